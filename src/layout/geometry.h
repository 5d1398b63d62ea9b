// The pad's layout arithmetic: the four layout sizes from the pad rectangle, and the eleven zone
// rectangles from the rectangle and the sizes. Pure functions, one copy for the program and its
// tools. The arithmetic is written once over a number type: Wrap32 computes as the program does
// (32-bit two's complement, wrapping), Exact computes the same sums on 64-bit integers, where
// no sum of these few 32-bit terms wraps, so a tool can tell which results wrapped.
#pragma once

#include <windows.h>

#include <array>
#include <cstdint>

#include "device/wrap32.h"
#include "layout/zone.h"

// A coordinate or size as the program computes it.
struct Wrap32 {
    LONG v = 0;

    friend Wrap32 operator+(Wrap32 a, Wrap32 b) { return {WrapAdd(a.v, b.v)}; }
    friend Wrap32 operator-(Wrap32 a, Wrap32 b) { return {WrapSub(a.v, b.v)}; }
    // Signed division, truncating toward zero. The divisors are small positive constants.
    Wrap32 DivSigned(LONG divisor) const { return {v / divisor}; }
    // The 32 bits divided as an unsigned number: a negative value becomes a large quotient.
    Wrap32 DivUnsigned(LONG divisor) const {
        return {static_cast<LONG>(
            static_cast<int32_t>(static_cast<uint32_t>(v) / static_cast<uint32_t>(divisor)))};
    }
};

// The same sums without wrapping: what they come to on unbounded integers.
struct Exact {
    long long v = 0;

    friend Exact operator+(Exact a, Exact b) { return {a.v + b.v}; }
    friend Exact operator-(Exact a, Exact b) { return {a.v - b.v}; }
    Exact DivSigned(LONG divisor) const { return {v / divisor}; }
    // Unbounded integers have no unsigned reading: the quotient the division means.
    Exact DivUnsigned(LONG divisor) const { return {v / divisor}; }
};

template <class Number> struct LayoutSizes {
    Number colWidth;
    Number btnWidth;
    Number btnHeight;
    Number stripHeight;
};

template <class Number> struct Box {
    Number left;
    Number top;
    Number right;
    Number bottom;
};

// Margins and gaps of the grid: 300 in from the pad's edges, 600 between buttons; the
// exit button ends 150 short of the strip.
inline constexpr LONG GridMargin = 300;
inline constexpr LONG GridGap = 600;
inline constexpr LONG ExitStripGap = 150;

// The sizes for a pad rectangle: the right-hand column is a sixth of the width; three buttons
// and the margins and gaps (300 + 600 + 600 + 300 = 1800) fill the rest across and down; the
// strip runs from 300 below the first grid row's far edge to the bottom.
template <class Number>
LayoutSizes<Number> SizesFor(Number left, Number top, Number right, Number bottom) {
    const Number grid{2 * GridMargin + 2 * GridGap};
    LayoutSizes<Number> sizes;
    sizes.colWidth = (right - left).DivSigned(6);
    sizes.btnWidth = (right - sizes.colWidth - left - grid).DivUnsigned(3);
    sizes.btnHeight = (bottom - top - grid).DivSigned(3);
    sizes.stripHeight = bottom - sizes.btnHeight - top - Number{2 * GridMargin};
    return sizes;
}

// Zones in the order the layout adds them: the strip, the exit button, grid buttons 1 to 9.
inline constexpr size_t ZoneCount = 11;
inline constexpr size_t StripIndex = 0;
inline constexpr size_t ExitIndex = 1;
inline constexpr size_t FirstGridIndex = 2;

// The eleven rectangles. The grid is walked as three rows of three, left to right: each next
// button starts 600 after the previous one's right edge, each next row 600 below the previous
// row's bottom edge.
template <class Number>
std::array<Box<Number>, ZoneCount> ZoneBoxes(Number left, Number top, Number right, Number bottom,
                                             const LayoutSizes<Number>& sizes) {
    const Number margin{GridMargin};
    const Number gap{GridGap};
    const Number column = right - sizes.colWidth;
    const Number stripTop = bottom - sizes.stripHeight;

    std::array<Box<Number>, ZoneCount> boxes;
    boxes[StripIndex] = {column + margin, stripTop, right, bottom};
    boxes[ExitIndex] = {column - margin, top, right, stripTop - Number{ExitStripGap}};
    Box<Number> cell{left + margin, top + margin, left + margin + sizes.btnWidth,
                     top + margin + sizes.btnHeight};
    size_t index = FirstGridIndex;
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 3; ++col) {
            boxes[index++] = cell;
            if (col < 2) {
                cell.left = cell.right + gap;
                cell.right = cell.left + sizes.btnWidth;
            }
        }
        if (row < 2) {
            cell.left = left + margin;
            cell.top = cell.bottom + gap;
            cell.right = cell.left + sizes.btnWidth;
            cell.bottom = cell.top + sizes.btnHeight;
        }
    }
    return boxes;
}

// The program's sizes and zones, as it computes and stores them.
struct PadSizes {
    LONG colWidth;
    LONG btnWidth;
    LONG btnHeight;
    LONG stripHeight;
};

PadSizes DeriveSizes(const RECT& pad);

// The eleven zones in the order the layout adds them (strip, exit button, grid buttons 1 to 9),
// with their ids and actions: 0 for the strip and the exit button, the id for a grid button.
std::array<Zone, ZoneCount> PlaceZones(const RECT& pad, const PadSizes& sizes);
