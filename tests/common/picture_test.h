// Shared support of the picture tests: the picture palette as the product
// describes it, kit-built pictures placed in bitmap blocks and picture Handles,
// and a fixture that loads the picture palette.
#pragma once

#include <vector>

#include "common/test_env.h"
#include "platform/platform.h"
#include "resources/handles.h"
#include "rezkit/rezkit.h"

// The 256 colours of the picture palette, index 0 first.
const std::vector<FixtureColour> &PictureColours();
// The index of the colour of table nearest to colour; the lowest index wins a tie.
uint8_t NearestIn(const std::vector<FixtureColour> &table, FixtureColour colour);
// The picture palette's colour nearest to table[index].
FixtureColour MappedColour(const std::vector<FixtureColour> &table, uint32_t index);
// count colours spread over the colour cube, none of them on a palette step.
std::vector<FixtureColour> OddColours(size_t count);
// width x |height| colour indices below colours, top row first, neighbours differing.
std::vector<uint32_t> IndexPattern(int32_t width, int32_t height, uint32_t colours);

// A bitmap file image of 8 bits per pixel whose pixels are the run-length data.
Bytes RunLengthImage(int32_t width, int32_t height, const std::vector<FixtureColour> &table,
                     const Bytes &data);
// A bitmap block from NewPointer of at least size bytes holding the image
// behind its 14-byte file header.
uint8_t *BlockOf(const Bytes &image, uint32_t size = 0);
// A picture Handle whose record holds block, its pixels pixelOffset bytes in.
Handle PictureHandleOf(uint8_t *block, uint32_t pixelOffset);
PictureRecord RecordOf(Handle picture);
// Draws the block (pixels behind its table) into a 16 x 16 device context,
// then disposes of it; for checks that nothing outside the block is touched.
void DrawAndDispose(uint8_t *block);
// The pixel (x, y) of a memory device context of that width.
FixtureColour PixelAt(const void *dc, int32_t width, int32_t x, int32_t y);

class PictureTest : public PoolTest {
  protected:
    void SetUp() override;
};
