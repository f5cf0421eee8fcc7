// Stand-ins for the encoder libraries that lack entry points or refuse to encode.

#include "encoders/BladeEnc.h"

using namespace bladeenc;

#define EXPORT extern "C" __attribute__((visibility("default")))

#if FAKE_EXPORTS > 0
EXPORT BE_ERR beInitStream(BE_CONFIG *, DWORD *samples, DWORD *bufferSize, HBE_STREAM *stream) {
    *samples = 2304;
    *bufferSize = 8192;
    *stream = 7;
    return BE_ERR_SUCCESSFUL;
}
#endif
#if FAKE_EXPORTS > 1
EXPORT BE_ERR beEncodeChunk(HBE_STREAM, DWORD, const short *, BYTE *, DWORD *written) {
    *written = 0;
    return BE_ERR_INVALID_FORMAT_PARAMETERS;
}
#endif
#if FAKE_EXPORTS > 2
EXPORT void beVersion(BE_VERSION *) {}
#endif
#if FAKE_EXPORTS > 3
EXPORT BE_ERR beDeinitStream(HBE_STREAM, BYTE *, DWORD *written) {
    *written = 0;
    return BE_ERR_SUCCESSFUL;
}
#endif
#if FAKE_EXPORTS > 4
EXPORT BE_ERR beCloseStream(HBE_STREAM) {
    return BE_ERR_SUCCESSFUL;
}
#endif

EXPORT int WMAudioCreateReader() {
    return 0;
}
