#include "models/ap_set.h"

#include <algorithm>
#include <iomanip>
#include <iostream>

#include "models/camera.h"
#include "util/diagnostics.h"
#include "util/tokens.h"

namespace bravik {

APSet::APSet(int paramCount, std::string typeName, std::string keyword)
    : AdjObject("", paramCount),
      a(paramCount, 0.0),
      s(paramCount, 0.0),
      typeName_(std::move(typeName)),
      keyword_(std::move(keyword)) {}

int APSet::setupParamSlots(const LSParams& ls) { return setupSlotsFrom(a.data(), s.data(), ls); }

int APSet::readRecord(std::istream& in) {
  std::string id;
  if (!readWord(in, id)) return -1;
  setId(id);
  if (!readWord(in, cameraId)) return -1;
  readHeadExtra(in);
  for (int k = 0; k < paramCount(); ++k) {
    if (!readOptionalDouble(in, a[k]) || !readOptionalDouble(in, s[k])) break;
  }
  return 1;
}

void APSet::writeRecord(std::ostream& out) const {
  out << keyword() << "   " << id() << "   " << cameraId << "\n";
  writeHeadExtra(out);
  for (int k = 0; k < paramCount(); ++k) {
    out << std::scientific << std::setprecision(8) << std::setw(16) << a[k] << "   "
        << std::setprecision(4) << std::setw(12) << s[k] << std::defaultfloat << "\n";
  }
}

void APSet::printReport(std::ostream& out, const LSParams& ls) const {
  out << "AP set ID   :  " << id() << "\n"
      << "AP set Type :  " << typeName() << "\n"
      << "Camera      :  " << cameraId << "\n";
  printHeadExtra(out);
  out << "\n  Param.     State         Value       Std.dev.\n\n";
  for (int k = 0; k < paramCount(); ++k) {
    out << "  " << std::left << std::setw(8) << paramName(k) << "   " << std::setw(4)
        << stateName(s[k], ls) << std::right << "   " << std::scientific << std::setprecision(3)
        << std::setw(12) << a[k] << "   " << std::setw(12) << s[k] << std::defaultfloat << "\n";
  }
}

int APSet::derivatives(double, double, double, Matrix& D) const {
  D = Matrix(2, paramCount());
  return -1;
}

int APSet::derivativesByPosition(double, double, double, Matrix& Dx, Matrix& Dy) const {
  Dx = Matrix(2, paramCount());
  Dy = Matrix(2, paramCount());
  return -1;
}

int APSet::correctionJacobian(double x, double y, double z, double (&J)[2][2]) const {
  J[0][0] = J[0][1] = J[1][0] = J[1][1] = 0.0;
  Matrix Dx;
  Matrix Dy;
  if (derivativesByPosition(x, y, z, Dx, Dy) != 1) return -1;
  for (int row = 0; row < 2; ++row) {
    for (int k = 0; k < paramCount(); ++k) {
      J[row][0] += Dx(row, k) * a[k];
      J[row][1] += Dy(row, k) * a[k];
    }
  }
  return 1;
}

int APSet::correction(double x, double y, double z, double& dx, double& dy) const {
  return partialCorrection(x, y, z, std::string(paramCount(), '1'), dx, dy);
}

int APSet::partialCorrection(double x, double y, double z, const std::string& selection, double& dx,
                             double& dy) const {
  dx = 0.0;
  dy = 0.0;
  Matrix D;
  if (derivatives(x, y, z, D) != 1) return -1;
  const int selected = std::min(paramCount(), static_cast<int>(selection.size()));
  for (int k = 0; k < selected; ++k) {
    if (selection[k] != '1') continue;
    dx += D(0, k) * a[k];
    dy += D(1, k) * a[k];
  }
  return 1;
}

int APSet::attach(const OwnedList<Camera>& cameras) {
  Camera* camera = cameras.find(cameraId);
  if (camera == nullptr) {
    messages() << "ERROR: AP set " << id() << " : camera " << cameraId << " not found.\n";
    return -1;
  }
  camera->apSets.push_back(this);
  attached = true;
  return 1;
}

void APSetP::readHeadExtra(std::istream& in) {
  double widthMm = 0.0;
  if (readOptionalDouble(in, widthMm)) b = widthMm * 0.001;
}

void APSetP::writeHeadExtra(std::ostream& out) const {
  out << std::fixed << std::setprecision(3) << std::setw(6) << b * 1000.0 << std::defaultfloat
      << "\n";
}

void APSetP::printHeadExtra(std::ostream& out) const {
  out << "Grid width  :  b = " << std::fixed << std::setprecision(3) << b * 1000.0
      << std::defaultfloat << " mm\n";
}

namespace {

struct GridAxis {
  double min = 0.0;
  double step = 0.0;
};

// Axis of `count` points spanning `extent` (m), centred on 0; a single point sits on 0.
GridAxis centredAxis(double extent, int count) {
  if (count < 2) return {};
  const double step = extent / (count - 1);
  return {-(count - 1) / 2.0 * step, step};
}

void printRange(std::ostream& out, const char* label, double min, double max) {
  out << label << "min = " << std::showpos << std::fixed << std::setprecision(1) << std::setw(6)
      << min * 1000.0 << " mm ,  max = " << std::setw(6) << max * 1000.0 << " mm\n"
      << std::noshowpos << std::defaultfloat;
}

void printCell(std::ostream& out, double dx, double dy) {
  out << " (" << std::showpos << std::fixed << std::setprecision(1) << std::setw(6) << dx * 1e6
      << "," << std::setw(6) << dy * 1e6 << ")" << std::noshowpos << std::defaultfloat;
}

}  // namespace

std::vector<APSet::EffectGrid> APSet::effectGrids() const { return {}; }

int APSet::printEffects(std::ostream& out, const OwnedList<Camera>& cameras, int nx, int ny) const {
  const Camera* camera = cameras.find(cameraId);
  out << "AP set ID            :  " << id() << "\n"
      << "AP set type          :  " << typeName() << "\n"
      << "Corresponding camera :  " << cameraId << "\n";
  if (camera == nullptr) {
    messages() << "ERROR: Camera " << cameraId << " not found.\n"
               << "ERROR: Initilization of AP grid failed.\n";
    return -1;
  }
  nx = std::max(nx, 1);
  ny = std::max(ny, 1);
  const GridAxis xAxis = centredAxis(camera->sx, nx);
  const GridAxis yAxis = centredAxis(camera->sy, ny);
  const double xMax = xAxis.min + (nx - 1) * xAxis.step;
  const double yMax = -yAxis.min;
  const double yMin = yMax - (ny - 1) * yAxis.step;
  out << "Effects on photo-coordinates\n";
  printRange(out, "  - range in x       :  ", xAxis.min, xMax);
  printRange(out, "  - range in y       :  ", yMin, yMax);
  out << "\n";

  std::vector<EffectGrid> grids = effectGrids();
  const std::string all(paramCount(), '1');
  const std::string title = typeName() + ":\n\n";
  if (grids.empty()) grids.push_back({title.c_str(), all.c_str()});
  for (const EffectGrid& grid : grids) {
    out << grid.title;
    for (int row = 0; row < ny; ++row) {
      const double y = yMax - row * yAxis.step;
      for (int column = 0; column < nx; ++column) {
        const double x = xAxis.min + column * xAxis.step;
        double dx = 0.0;
        double dy = 0.0;
        partialCorrection(x, y, -camera->c, grid.selection, dx, dy);
        printCell(out, dx, dy);
      }
      out << "\n";
    }
    out << "\n";
  }
  return 1;
}

APSetNamed::APSetNamed(std::vector<std::string> names, std::string typeName, std::string keyword)
    : APSet(static_cast<int>(names.size()), std::move(typeName), std::move(keyword)),
      names_(std::move(names)) {}

APSetGAP::APSetGAP()
    : APSetNamed({"dxp", "dyp", "dc", "sx", "a1", "K1", "K2", "K3", "P1", "P2"}, "GAP", "gap") {}
APSetAustralis::APSetAustralis()
    : APSetNamed({"dxp", "dyp", "dc", "K1", "K2", "K3", "P1", "P2", "b1", "b2"}, "Australis",
                 "australis") {}
APSetIO::APSetIO() : APSetNamed({"dxp", "dyp", "dc"}, "inner orientation", "inner-or") {}
APSetRadial::APSetRadial() : APSetNamed({"K1", "K2", "K3"}, "radial distortion", "radial-dist") {}
APSetDecentering::APSetDecentering()
    : APSetNamed({"P1", "P2"}, "decentering distortion", "decentering-dist") {}
APSetOutOfPlane::APSetOutOfPlane()
    : APSetNamed({"a13", "a14", "a15"}, "out-of-plane distortion", "out-of-plane-dist") {}

namespace {

// Fills D (2 x n) from the listed columns of its two rows.
void setRows(Matrix& D, int n, std::initializer_list<double> rowX,
             std::initializer_list<double> rowY) {
  D = Matrix(2, n);
  int k = 0;
  for (double value : rowX) D(0, k++) = value;
  k = 0;
  for (double value : rowY) D(1, k++) = value;
}

}  // namespace

int APSetGAP::derivatives(double x, double y, double z, Matrix& D) const {
  const double r2 = x * x + y * y;
  const double r4 = r2 * r2;
  setRows(D, 10,
          {1.0, 0.0, -x / z, -x, y, x * r2, x * r4, x * r4 * r2, 3 * x * x + y * y, 2 * x * y},
          {0.0, 1.0, -y / z, 0.0, x, y * r2, y * r4, y * r4 * r2, 2 * x * y, x * x + 3 * y * y});
  return 1;
}

std::vector<APSet::EffectGrid> APSetGAP::effectGrids() const {
  return {{"inner orientation (dc only):\n\n", "0010000000"},
          {"radial symmetric distortion (K1, K2, K3):\n\n", "0000011100"},
          {"decentering distortion (P1, P2):\n\n", "0000000011"},
          {"in-plane distortion (sx, a1):\n\n", "0001100000"},
          {"total distortion:\n\n", "0011111111"}};
}

int APSetAustralis::derivatives(double x, double y, double z, Matrix& D) const {
  const double r2 = x * x + y * y;
  const double r4 = r2 * r2;
  setRows(D, 10, {1.0, 0.0, -x / z, x * r2, x * r4, x * r4 * r2, 2 * x * x + r2, 2 * x * y, x, y},
          {0.0, 1.0, -y / z, y * r2, y * r4, y * r4 * r2, 2 * x * y, r2 + 2 * y * y, 0.0, 0.0});
  return 1;
}

std::vector<APSet::EffectGrid> APSetAustralis::effectGrids() const {
  return {{"inner orientation (dc only):\n\n", "0010000000"},
          {"radial symmetric distortion (K1, K2, K3):\n\n", "0001110000"},
          {"decentering distortion (P1, P2):\n\n", "0000001100"},
          {"in-plane distortion (b1, b2):\n\n", "0000000011"},
          {"total distortion:\n\n", "0011111111"}};
}

int APSetIO::derivatives(double x, double y, double z, Matrix& D) const {
  setRows(D, 3, {1.0, 0.0, -x / z}, {0.0, 1.0, -y / z});
  return 1;
}

std::vector<APSet::EffectGrid> APSetIO::effectGrids() const {
  return {{"inner orientation (dc only):\n\n", "001"}};
}

int APSetRadial::derivatives(double x, double y, double, Matrix& D) const {
  const double r2 = x * x + y * y;
  const double r4 = r2 * r2;
  setRows(D, 3, {x * r2, x * r4, x * r4 * r2}, {y * r2, y * r4, y * r4 * r2});
  return 1;
}

int APSetDecentering::derivatives(double x, double y, double, Matrix& D) const {
  setRows(D, 2, {3 * x * x + y * y, 2 * x * y}, {2 * x * y, x * x + 3 * y * y});
  return 1;
}

int APSetInPlane::derivatives(double x, double y, double, Matrix& D) const {
  const double xy = x * y;
  setRows(D, 12, {x, y, xy, y * y, x * xy, xy * y, xy * xy},
          {0, 0, 0, 0, 0, 0, 0, xy, x * x, x * xy, xy * y, xy * xy});
  return 1;
}

int APSetOutOfPlane::derivatives(double x, double y, double z, Matrix& D) const {
  const double p = x / z;
  const double q = y / z;
  const double t1 = x * x - y * y;
  const double t2 = x * x * y * y;
  const double t3 = x * x * x * x - y * y * y * y;
  setRows(D, 3, {t1 * p, t2 * p, t3 * p}, {t1 * q, t2 * q, t3 * q});
  return 1;
}

int APSetP12::derivatives(double x, double y, double, Matrix& D) const {
  const double k = 0.6666666666666666 * b * b;
  const double X = x * x - k;
  const double Y = y * y - k;
  const double xy = x * y;
  setRows(D, 12, {x, y, -2 * X, xy, Y, 0, x * Y, 0, y * X, 0, X * Y, 0},
          {-y, x, xy, -2 * Y, 0, X, 0, y * X, 0, x * Y, 0, X * Y});
  return 1;
}

namespace {

// Every P44 column is c f(x) g(y) with f and g taken from the one-axis polynomials
// 1, t, t^2 - h, t (t^2 - g), t^2 (t^2 - e) + f (index 0 to 4 below).
struct P44Term {
  int column;  // 1-based
  double factor;
  int fx;
  int gy;
};

constexpr double kP44W = -1.4285714285714286;  // -10/7
constexpr P44Term kP44RowX[] = {
    {1, 1, 1, 0},  {2, 1, 0, 1},  {3, 1, 1, 1},  {4, 1, 0, 2},  {6, kP44W, 2, 0}, {7, 1, 3, 0},
    {8, 1, 2, 1},  {9, 1, 1, 2},  {10, 1, 0, 3}, {15, 1, 4, 0}, {16, 1, 3, 1},    {17, 1, 2, 2},
    {18, 1, 1, 3}, {19, 1, 0, 4}, {25, 1, 4, 1}, {26, 1, 3, 2}, {27, 1, 2, 3},    {28, 1, 1, 4},
    {33, 1, 4, 2}, {34, 1, 3, 3}, {35, 1, 2, 4}, {39, 1, 4, 3}, {40, 1, 3, 4},    {43, 1, 4, 4}};
constexpr P44Term kP44RowY[] = {
    {1, -1, 0, 1}, {2, 1, 1, 0},  {3, kP44W, 0, 2}, {5, 1, 2, 0},  {6, 1, 1, 1},  {11, 1, 3, 0},
    {12, 1, 2, 1}, {13, 1, 1, 2}, {14, 1, 0, 3},    {20, 1, 4, 0}, {21, 1, 3, 1}, {22, 1, 2, 2},
    {23, 1, 1, 3}, {24, 1, 0, 4}, {29, 1, 4, 1},    {30, 1, 3, 2}, {31, 1, 2, 3}, {32, 1, 1, 4},
    {36, 1, 4, 2}, {37, 1, 3, 3}, {38, 1, 2, 4},    {41, 1, 4, 3}, {42, 1, 3, 4}, {44, 1, 4, 4}};

// The five one-axis polynomials of P44 at t and their derivatives, for grid width b.
struct P44Axis {
  double value[5];
  double slope[5];
  P44Axis(double t, double b) {
    const double b2 = b * b;
    const double h = 0.5 * b2;
    const double g = 0.85 * b2;
    const double e = 1.1071428571428572 * b2;        // 31/28 b^2
    const double f = 0.12857142857142856 * b2 * b2;  // 9/70 b^4
    const double t2 = t * t;
    const double values[5] = {1.0, t, t2 - h, t * (t2 - g), t2 * (t2 - e) + f};
    const double slopes[5] = {0.0, 1.0, 2 * t, 3 * t2 - g, 4 * t2 * t - 2 * e * t};
    for (int k = 0; k < 5; ++k) {
      value[k] = values[k];
      slope[k] = slopes[k];
    }
  }
};

template <typename Value>
void fillP44(Matrix& D, Value value) {
  D = Matrix(2, 44);
  for (const P44Term& term : kP44RowX) D(0, term.column - 1) = value(term);
  for (const P44Term& term : kP44RowY) D(1, term.column - 1) = value(term);
}

}  // namespace

int APSetP44::derivatives(double x, double y, double, Matrix& D) const {
  const P44Axis fx(x, b);
  const P44Axis gy(y, b);
  fillP44(D, [&](const P44Term& t) { return t.factor * fx.value[t.fx] * gy.value[t.gy]; });
  return 1;
}

int APSetP44::derivativesByPosition(double x, double y, double, Matrix& Dx, Matrix& Dy) const {
  const P44Axis fx(x, b);
  const P44Axis gy(y, b);
  fillP44(Dx, [&](const P44Term& t) { return t.factor * fx.slope[t.fx] * gy.value[t.gy]; });
  fillP44(Dy, [&](const P44Term& t) { return t.factor * fx.value[t.fx] * gy.slope[t.gy]; });
  return 1;
}

namespace {

// Zeroed 2 x n matrices for the position derivatives of D.
void startByPosition(Matrix& Dx, Matrix& Dy, int n) {
  Dx = Matrix(2, n);
  Dy = Matrix(2, n);
}

// Principal point and focal length in columns first .. first + 2 (dxp, dyp, dc): only the dc
// column -x/z, -y/z moves with the point.
void innerOrientationByPosition(double z, Matrix& Dx, Matrix& Dy, int first) {
  Dx(0, first + 2) = -1.0 / z;
  Dy(1, first + 2) = -1.0 / z;
}

// K1, K2, K3 in columns first .. first + 2: (x, y) r2^k with d/dx (x r2^k) = r2^k + 2k x^2
// r2^(k-1) and d/dy (x r2^k) = 2k x y r2^(k-1), and likewise for y.
void radialByPosition(double x, double y, Matrix& Dx, Matrix& Dy, int first) {
  const double r2 = x * x + y * y;
  double power = 1.0;  // r2^(k-1)
  for (int k = 1; k <= 3; ++k) {
    const double cross = 2 * k * x * y * power;
    Dx(0, first + k - 1) = power * r2 + 2 * k * x * x * power;
    Dx(1, first + k - 1) = cross;
    Dy(0, first + k - 1) = cross;
    Dy(1, first + k - 1) = power * r2 + 2 * k * y * y * power;
    power *= r2;
  }
}

// P1, P2 in columns first, first + 1: (3x^2 + y^2, 2xy) and (2xy, x^2 + 3y^2).
void decenteringByPosition(double x, double y, Matrix& Dx, Matrix& Dy, int first) {
  Dx(0, first) = 6 * x;
  Dx(1, first) = 2 * y;
  Dy(0, first) = 2 * y;
  Dy(1, first) = 2 * x;
  Dx(0, first + 1) = 2 * y;
  Dx(1, first + 1) = 2 * x;
  Dy(0, first + 1) = 2 * x;
  Dy(1, first + 1) = 6 * y;
}

}  // namespace

int APSetGAP::derivativesByPosition(double x, double y, double z, Matrix& Dx, Matrix& Dy) const {
  startByPosition(Dx, Dy, 10);
  innerOrientationByPosition(z, Dx, Dy, 0);
  Dx(0, 3) = -1.0;  // sx: -x
  Dy(0, 4) = 1.0;   // a1: y, x
  Dx(1, 4) = 1.0;
  radialByPosition(x, y, Dx, Dy, 5);
  decenteringByPosition(x, y, Dx, Dy, 8);
  return 1;
}

int APSetAustralis::derivativesByPosition(double x, double y, double z, Matrix& Dx,
                                          Matrix& Dy) const {
  startByPosition(Dx, Dy, 10);
  innerOrientationByPosition(z, Dx, Dy, 0);
  radialByPosition(x, y, Dx, Dy, 3);
  decenteringByPosition(x, y, Dx, Dy, 6);
  Dx(0, 8) = 1.0;  // b1: x
  Dy(0, 9) = 1.0;  // b2: y
  return 1;
}

int APSetIO::derivativesByPosition(double, double, double z, Matrix& Dx, Matrix& Dy) const {
  startByPosition(Dx, Dy, 3);
  innerOrientationByPosition(z, Dx, Dy, 0);
  return 1;
}

int APSetRadial::derivativesByPosition(double x, double y, double, Matrix& Dx, Matrix& Dy) const {
  startByPosition(Dx, Dy, 3);
  radialByPosition(x, y, Dx, Dy, 0);
  return 1;
}

int APSetDecentering::derivativesByPosition(double x, double y, double, Matrix& Dx,
                                            Matrix& Dy) const {
  startByPosition(Dx, Dy, 2);
  decenteringByPosition(x, y, Dx, Dy, 0);
  return 1;
}

int APSetInPlane::derivativesByPosition(double x, double y, double, Matrix& Dx, Matrix& Dy) const {
  const double xy = x * y;
  setRows(Dx, 12, {1.0, 0.0, y, 0.0, 2 * xy, y * y, 2 * xy * y},
          {0, 0, 0, 0, 0, 0, 0, y, 2 * x, 2 * xy, y * y, 2 * xy * y});
  setRows(Dy, 12, {0.0, 1.0, x, 2 * y, x * x, 2 * xy, 2 * x * xy},
          {0, 0, 0, 0, 0, 0, 0, x, 0.0, x * x, 2 * xy, 2 * x * xy});
  return 1;
}

int APSetOutOfPlane::derivativesByPosition(double x, double y, double z, Matrix& Dx,
                                           Matrix& Dy) const {
  // Columns t(x, y) (p, q) with p = x/z, q = y/z; dp/dx = dq/dy = 1/z.
  const double p = x / z;
  const double q = y / z;
  const double t[3] = {x * x - y * y, x * x * y * y, x * x * x * x - y * y * y * y};
  const double tx[3] = {2 * x, 2 * x * y * y, 4 * x * x * x};
  const double ty[3] = {-2 * y, 2 * x * x * y, -4 * y * y * y};
  startByPosition(Dx, Dy, 3);
  for (int k = 0; k < 3; ++k) {
    Dx(0, k) = tx[k] * p + t[k] / z;
    Dx(1, k) = tx[k] * q;
    Dy(0, k) = ty[k] * p;
    Dy(1, k) = ty[k] * q + t[k] / z;
  }
  return 1;
}

int APSetP12::derivativesByPosition(double x, double y, double, Matrix& Dx, Matrix& Dy) const {
  const double k = 0.6666666666666666 * b * b;
  const double X = x * x - k;
  const double Y = y * y - k;
  const double xy = x * y;
  // dX/dx = 2x, dY/dy = 2y.
  setRows(Dx, 12, {1.0, 0.0, -4 * x, y, 0.0, 0.0, Y, 0.0, 2 * xy, 0.0, 2 * x * Y, 0.0},
          {0.0, 1.0, y, 0.0, 0.0, 2 * x, 0.0, 2 * xy, 0.0, Y, 0.0, 2 * x * Y});
  setRows(Dy, 12, {0.0, 1.0, 0.0, x, 2 * y, 0.0, 2 * xy, 0.0, X, 0.0, 2 * y * X, 0.0},
          {-1.0, 0.0, x, -4 * y, 0.0, 0.0, 0.0, X, 0.0, 2 * xy, 0.0, 2 * y * X});
  return 1;
}

std::unique_ptr<APSet> makeAPSet(const std::string& keyword) {
  if (keyword == "gap") return std::make_unique<APSetGAP>();
  if (keyword == "australis") return std::make_unique<APSetAustralis>();
  if (keyword == "p12") return std::make_unique<APSetP12>();
  if (keyword == "p44") return std::make_unique<APSetP44>();
  if (keyword == "inner-or") return std::make_unique<APSetIO>();
  if (keyword == "radial-dist") return std::make_unique<APSetRadial>();
  if (keyword == "decentering-dist") return std::make_unique<APSetDecentering>();
  if (keyword == "in-plane-dist") return std::make_unique<APSetInPlane>();
  if (keyword == "out-of-plane-dist") return std::make_unique<APSetOutOfPlane>();
  return nullptr;
}

}  // namespace bravik
