// Choosing the PNG form of a delivered bitmap: palette pictures as palette
// PNGs of the fewest bits that hold their colours, grey palettes as grey
// PNGs, everything else as 8-bit RGB, with the same pixels as the bitmap.
#pragma once

#include <cstdint>
#include <vector>

#include "tools/png_write.h"
#include "tools/dib.h"

struct PngPlan {
  DibView view;
  PngLayout layout;
  bool copyRows = false;          // the stored index rows are the PNG rows as they are
  std::vector<uint8_t> greyOf;    // grey value of each colour index (8-bit grey from a palette)
  bool rgb = false;               // rows made by DibRowRgb
};

// Chooses the PNG form of the bitmap in view.
void PlanPng(const DibView& view, PngPlan* plan);

// Row source for WritePng; context is the PngPlan.
void PngPlanRow(uint32_t y, uint8_t* row, void* context);
