#include "codec/jpeg.h"

namespace {

// Texts of -30..2, indexed by status + 30.
constexpr const char* kStatusTexts[] = {
    "Error access to jpeg_comment buffer",  // -30
    "Unsupported frame was found",          // -29
    "Output buffer too small",              // -28
    "Thumbnail has wrong color",            // -27
    "Thumbnail too small",                  // -26
    "Bad RST marker",                       // -25
    "Internal error",                       // -24
    "File error",                           // -23
    "No image",                             // -22
    "Data error",                           // -21
    "Multiply frame",                       // -20
    "No frame",                             // -19
    "No Quantization table",                // -18
    "No Huffman table",                     // -17
    "Error DNL",                            // -16
    "Error SOF",                            // -15
    "Error COMP",                           // -14
    "Not JPEG",                             // -13
    "Not supported",                        // -12
    "Error EOF",                            // -11
    "Invalid file name",                    // -10
    "Error close file",                     // -9
    "Invalid JPEG_PROPERTIES",              // -8
    "Bad Quantization table",               // -7
    "Bad Huffman table",                    // -6
    "Memory error",                         // -5
    "Unsupported bytes per pixel",          // -4
    "Unsupported subsampling",              // -3
    "Invalid Encoder",                      // -2
    "Exception detected",                   // -1
    "Success",                              // 0
    "Interrupt Success",                    // 1
    "ROI Success",                          // 2
};

}  // namespace

const char* jpegErrorString(int32_t status) {
  if (status == -99) return "Reserved";
  if (status < -30 || status > 2) return "Unknown error code";
  return kStatusTexts[status + 30];
}
