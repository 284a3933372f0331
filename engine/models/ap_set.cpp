#include "models/ap_set.h"

#include <iomanip>
#include <iostream>

#include "models/camera.h"
#include "models/tokens.h"

namespace bravik {

APSet::APSet(int paramCount, std::string typeName, std::string keyword)
    : AdjObject("", paramCount),
      a(paramCount, 0.0),
      s(paramCount, 0.0),
      typeName_(std::move(typeName)),
      keyword_(std::move(keyword)) {}

int APSet::setupParamSlots() { return setupSlotsFrom(a.data(), s.data()); }

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

void APSet::printReport(std::ostream& out) const {
  out << "AP set ID   :  " << id() << "\n"
      << "AP set Type :  " << typeName() << "\n"
      << "Camera      :  " << cameraId << "\n";
  printHeadExtra(out);
  out << "\n  Param.     State         Value       Std.dev.\n\n";
  for (int k = 0; k < paramCount(); ++k) {
    out << "  " << std::left << std::setw(8) << paramName(k) << "   " << std::setw(4)
        << stateName(s[k]) << std::right << "   " << std::scientific << std::setprecision(3)
        << std::setw(12) << a[k] << "   " << std::setw(12) << s[k] << std::defaultfloat << "\n";
  }
}

int APSet::derivatives(double, double, double, Matrix& D) const {
  D = Matrix(2, paramCount());
  return -1;
}

int APSet::correction(double x, double y, double z, double& dx, double& dy) const {
  dx = 0.0;
  dy = 0.0;
  Matrix D;
  if (derivatives(x, y, z, D) != 1) return -1;
  for (int k = 0; k < paramCount(); ++k) {
    dx += D(0, k) * a[k];
    dy += D(1, k) * a[k];
  }
  return 1;
}

void APSet::emptyOperation() const { std::cerr << "ERROR: calling empty function!\n"; }

int APSet::attach(const OwnedList<Camera>& cameras) {
  Camera* camera = cameras.find(cameraId);
  if (camera == nullptr) {
    std::cout << "ERROR: AP set " << id() << " : camera " << cameraId << " not found.\n";
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
