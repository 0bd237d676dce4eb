// Delivered bitmaps as PNG rows.
#include "tools/render.h"

#include <cstring>

namespace {

// The highest colour index that occurs in the picture.
uint32_t HighestIndex(const DibView& view) {
  uint32_t highest = 0, top = (1u << view.bits) - 1;
  for (uint32_t y = 0; y < view.rows && highest < top; ++y) {
    const uint8_t* row = DibRow(view, y);
    if (view.bits == 8) {
      for (uint32_t x = 0; x < view.width; ++x) highest = row[x] > highest ? row[x] : highest;
    } else {
      for (uint32_t x = 0; x < view.width; ++x) {
        uint32_t index = DibIndex(row, x, view.bits);
        highest = index > highest ? index : highest;
      }
    }
  }
  return highest;
}

}  // namespace

void PlanPng(const DibView& view, PngPlan* plan) {
  *plan = PngPlan();
  plan->view = view;
  PngLayout& layout = plan->layout;
  layout.width = view.width;
  layout.height = view.rows;
  if (view.bits > 8) {
    layout.colour = kPngRgb;
    layout.bits = 8;
    plan->rgb = true;
    return;
  }
  // Indices past the colour table show black, so the table the PNG needs
  // runs to the highest index used, padded with black.
  uint32_t entries = HighestIndex(view) + 1;
  uint8_t bits = entries <= 2 ? 1 : entries <= 4 ? 2 : entries <= 16 ? 4 : 8;
  std::vector<uint8_t> colours(3 * entries, 0);
  bool grey = true, ramp = true;
  for (uint32_t i = 0; i < entries; ++i) {
    if (i < view.paletteEntries) {
      const uint8_t* slot = view.info + 40 + 4 * i;
      colours[3 * i] = slot[2];
      colours[3 * i + 1] = slot[1];
      colours[3 * i + 2] = slot[0];
    }
    uint8_t r = colours[3 * i], g = colours[3 * i + 1], b = colours[3 * i + 2];
    grey = grey && r == g && g == b;
    ramp = ramp && r == i * 255 / ((1u << bits) - 1);
  }
  if (grey && ramp) {
    // The indices are the grey levels themselves.
    layout.colour = kPngGrey;
    layout.bits = bits;
  } else if (grey) {
    layout.colour = kPngGrey;
    layout.bits = 8;
    plan->greyOf.assign(256, 0);
    for (uint32_t i = 0; i < entries; ++i) plan->greyOf[i] = colours[3 * i];
  } else {
    layout.colour = kPngPalette;
    layout.bits = bits;
    layout.palette = colours;
  }
  plan->copyRows = plan->greyOf.empty() && layout.bits == view.bits;
}

void PngPlanRow(uint32_t y, uint8_t* out, void* context) {
  const PngPlan& plan = *static_cast<const PngPlan*>(context);
  const DibView& view = plan.view;
  if (plan.rgb) {
    DibRowRgb(view, y, out);
    return;
  }
  const uint8_t* row = DibRow(view, y);
  if (plan.copyRows) {
    std::memcpy(out, row, static_cast<size_t>(PngRowBytes(plan.layout)));
    return;
  }
  if (!plan.greyOf.empty()) {
    for (uint32_t x = 0; x < view.width; ++x) out[x] = plan.greyOf[DibIndex(row, x, view.bits)];
    return;
  }
  // Indices repacked into fewer bits, most significant first.
  uint32_t bits = plan.layout.bits;
  std::memset(out, 0, static_cast<size_t>(PngRowBytes(plan.layout)));
  for (uint32_t x = 0; x < view.width; ++x) {
    uint64_t bit = static_cast<uint64_t>(x) * bits;
    out[bit / 8] |= static_cast<uint8_t>(DibIndex(row, x, view.bits) << (8 - bits - bit % 8));
  }
}
