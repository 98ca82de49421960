#pragma once
// Names that assistive technology reads for the main window's controls that carry no caption of
// their own: edits, combo boxes, the grid, the spin box, the gauge, the terminal and the two "..."
// buttons.
#include <QString>

class QWidget;

namespace qorvel {

// Names the controls of Window found by their object names; a control that is missing is skipped.
// Each label next to a box becomes the box's buddy, which assistive technology reports as the
// box's label.
void NameControlsForAccessibility(QWidget* Window);

// Gives Control the accessible name. An editable combo box's text field gets it as well: on Linux
// the combo box itself is announced by its current text once it has one.
void SetAccessibleName(QWidget* Control, const QString& Name);

} // namespace qorvel
