#pragma once
// TacLoginComponent: a component with a user name and password for HTTP
// authentication. They are stored with the component not as plain properties
// but as one binary property, "LInfo", lightly scrambled:
//   byte 0: N, the number of bytes that follow;
//   N bytes, each exclusive-or'ed with (N xor 0xA7): the user name's length L,
//   the L bytes of the user name, then the N-1-L bytes of the password.
// The property is written only when either text is non-empty; together the
// two texts hold at most 254 bytes.
//
// Threads: main thread; the HTTP transfer reads the texts on its worker while
// the component is busy, when nothing changes them.

#include <string>
#include <string_view>

#include "shell/ac_component.h"

class TacLoginComponent : public TacComponent {
public:
    using TacComponent::TacComponent;

    std::string HTTPUsername;
    std::string HTTPPassword;

    // Whether "LInfo" is written at all.
    bool HasLInfo() const { return !HTTPUsername.empty() || !HTTPPassword.empty(); }
    // The property's bytes. Texts longer than the format holds are refused
    // with fw::EInvalidOperation rather than stored cut.
    std::string WriteLInfo() const;
    // Reads the property's bytes; data that is short or inconsistent is
    // refused with fw::EInvalidOperation and leaves both texts unchanged.
    void ReadLInfo(std::string_view Data);
};
