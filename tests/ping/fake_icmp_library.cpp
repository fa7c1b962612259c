// Stand-ins for a broken ICMP library, to check how the engine's construction
// fails: built once without IcmpSendEcho, once with an IcmpCreateFile that
// gives no handle.
#include "platform/icmp.h"

extern "C" {

__attribute__((visibility("default"))) win::HANDLE IcmpCreateFile() {
#ifdef FAKE_ICMP_NO_HANDLE
    return win::INVALID_HANDLE_VALUE;
#else
    static int handle;
    return &handle;
#endif
}

__attribute__((visibility("default"))) win::BOOL IcmpCloseHandle(win::HANDLE) {
    return win::TRUE;
}

#ifndef FAKE_ICMP_NO_SEND_ECHO
__attribute__((visibility("default"))) win::DWORD IcmpSendEcho(win::HANDLE, win::IPAddr,
                                                               win::LPVOID, win::WORD,
                                                               win::IP_OPTION_INFORMATION*,
                                                               win::LPVOID, win::DWORD,
                                                               win::DWORD) {
    return 0;
}
#endif
}
