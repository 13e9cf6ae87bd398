#pragma once

class QTreeView;

namespace daq::window {

class FlatListModel;

// Shows `model` in `view` the way the server window's lists look: navy 11 px text, bold navy
// headers, 20 px rows with grid lines, full-row multiple selection in the window's selection
// colour, the model's column widths, and the last row scrolled into view after appends.
// The model must outlive the view's use of it.
void configureListView(QTreeView& view, FlatListModel& model);

}  // namespace daq::window
