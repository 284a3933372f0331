#pragma once
// Draws the result display's model (display/display_model.h) onto a graphics scene whose view
// shows world Y up (DrawingView: scale(1, -1)). Every model layer becomes one item group, in
// model order above the drawing view's own layers; the rules stay in the core.

#include <QGraphicsItemGroup>
#include <QGraphicsScene>
#include <string>
#include <vector>

#include "display/display_model.h"

namespace vantri::ui {

// Z value of the first display layer: above the drawing view's footprints, positions and points.
inline constexpr double kDisplayLayerZ = 10.0;

struct DrawnLayer {
  std::string name;
  QGraphicsItemGroup* group = nullptr;  // owned by the scene
};

// Adds the model's layers to the scene (hidden layers stay hidden); returns them in model order.
// Image chips are read from their image files by region; a chip that cannot be read is outlined.
std::vector<DrawnLayer> DrawDisplayModel(const display::DisplayModel& model, QGraphicsScene& scene);

// Removes layers drawn earlier (before drawing a new model).
void RemoveDrawnLayers(std::vector<DrawnLayer>& layers, QGraphicsScene& scene);

}  // namespace vantri::ui
