#include "common/Encodestring.h"

const char ScrambleTableA[96] =
    "EVU) "
    "3B(oGmCvRK%A#j-5}>[Tub$_dMF+1I2Wen@aqwtzr{,xl]70`Z=~!Y|?gJk4iD&O*QPN9:^XSs\\cLhf;8<.'y\"p/H6";
const char ScrambleTableB[96] = "VyhC~$N>x4H,=D3'jIoR.pZ:_<+5m)1& "
                                "Bz98|/Ufr\\Qb*la;0#L?gS{n27dq!wTXuPWYE6}-MvitK`FAOc]\"k(J[^eGs%@";

const char kScrambledHomePage[] = "=LLCj.hhLSnu02*>2lS\"C*2>(0Bh";

std::string UnscrambleString(const std::string &text) {
    std::string result;
    result.reserve(text.size());
    for (char c : text) {
        int p = 0;
        for (int i = 0; i < 95; ++i) {
            if (ScrambleTableB[i] == c) {
                p = i;
                break;
            }
        }
        result += ScrambleTableA[94 - p];
    }
    return result;
}
