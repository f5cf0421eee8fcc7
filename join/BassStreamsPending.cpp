// Stand-ins for the decoding layer's stream operations while audio/ does not yet have them:
// every stream fails to open.
#include "audio/Bass.h"

HSTREAM BASS_StreamCreateFile(BOOL, const void *, QWORD, QWORD, DWORD) {
    return 0;
}
HSTREAM BASS_WMA_StreamCreateFile(BOOL, const void *, QWORD, QWORD, DWORD) {
    return 0;
}
BOOL BASS_ChannelGetInfo(DWORD, BASS_CHANNELINFO *) {
    return 0;
}
QWORD BASS_ChannelGetLength(DWORD, DWORD) {
    return QWORD(-1);
}
double BASS_ChannelBytes2Seconds(DWORD, QWORD) {
    return -1;
}
DWORD BASS_ChannelIsActive(DWORD) {
    return BASS_ACTIVE_STOPPED;
}
DWORD BASS_ChannelGetData(DWORD, void *, DWORD) {
    return DWORD(-1);
}
QWORD BASS_ChannelGetPosition(DWORD, DWORD) {
    return QWORD(-1);
}
BOOL BASS_StreamFree(HSTREAM) {
    return 0;
}
