// Rows kept while a device context draws, and compared when it is given back.
#include "saved_rows.h"

#include <string.h>

#include <algorithm>

namespace port {

bool SavedRows::Save(const Surface &surface, int y, int left, int right)
{
    if (rows_.size() == kMaxRows)
        return false;
    for (const Row &row : rows_)
        if (row.y == y && left < row.right && right > row.left)
            return false;  // partly written already: not as it was
    const uint32_t *pixels = surface.pixels + (size_t)y * surface.stride;
    top_ = rows_.empty() ? y : std::min(top_, y);
    bottom_ = rows_.empty() ? y + 1 : std::max(bottom_, y + 1);
    rows_.push_back({y, left, right, pixels_.size()});
    pixels_.insert(pixels_.end(), pixels + left, pixels + right);
    return true;
}

bool SavedRows::Holds(int x, int y) const
{
    if (y < top_ || y >= bottom_)
        return false;
    for (const Row &row : rows_)
        if (row.y == y && x >= row.left && x < row.right)
            return true;
    return false;
}

bool SavedRows::Changed(const Surface &surface, const Row &row) const
{
    const uint32_t *now = surface.pixels + (size_t)row.y * surface.stride + row.left;
    return memcmp(now, &pixels_[row.offset], (row.right - row.left) * sizeof(uint32_t)) != 0;
}

}  // namespace port
