#pragma once
// Cell-table limits shared by the view's source files.
#include "emulvt/emul_vt.h"

namespace qorvel::view_detail {

constexpr int kLastCellColumn = kColumnPositions - 2; // 160: the last column with a right edge
constexpr int kLastVisibleRow = kRowPositions - 2;    // 50: the last row with a bottom edge

} // namespace qorvel::view_detail
