// Removed once the codec has its first translation unit.
namespace meshwick_codec_placeholder {}
