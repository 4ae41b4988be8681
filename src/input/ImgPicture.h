#pragma once

class ColorBar;
class ImgData;
class ImgDatas;
class QImage;

// Grey pictures of loaded images for the panels that show them. The readers themselves know
// nothing of pictures, so that they serve the tools without Qt Gui.

// The image as a Format_Grayscale8 picture through the bar's grey mapping; the bar takes the
// image's range unless its scale is fixed. Without a bar the image's own range is spread over
// the full grey ramp. Nothing changes for a reader that is not loaded.
void toImage(ImgData &data, QImage &img, ColorBar *bar);

// The same for image `index` of a set, which then says imageUpdated(); false (and nothing
// changes) outside the set.
bool toImage(ImgDatas &set, int index, QImage &img, ColorBar *bar);
