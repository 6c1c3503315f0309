// Rows of a device context's surface kept as they were before FillRect
// wrote over them. A band of silence cleared and drawn again comes back as
// it was, and needs no repaint: whether each kept row changed is found by
// comparing it when the drawing ends.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "window_backend.h"

namespace port {

class SavedRows {
public:
    // Keeps row `y` from `left` up to `right` of `surface`, about to be
    // written over, if there is room; false if not.
    bool Save(const Surface &surface, int y, int left, int right);
    // Whether pixel (x, y) lies in a kept row: it is compared with the row.
    bool Holds(int x, int y) const;
    // Calls changed(left, y, right) for every kept row of `surface` that is
    // no longer what it was.
    template <typename F>
    void ForEachChanged(const Surface &surface, F changed) const
    {
        for (const Row &row : rows_)
            if (Changed(surface, row))
                changed(row.left, row.y, row.right);
    }

private:
    // A band of silence cleared and drawn again rewrites one row, a moving
    // trace more than this many.
    static constexpr size_t kMaxRows = 8;
    struct Row {
        int y, left, right;
        size_t offset;  // into pixels_
    };
    bool Changed(const Surface &surface, const Row &row) const;

    std::vector<Row> rows_;
    std::vector<uint32_t> pixels_;
    int top_ = 0, bottom_ = 0;  // the kept rows lie in [top_, bottom_)
};

}  // namespace port
