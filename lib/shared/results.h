// Result codes of the pipelines: 0 is success, every failure is negative.
#pragma once

namespace kestrav3 {

enum : int {
    ERR_READ = -1,
    ERR_EMPTY = -2,
    ERR_NOMEM = -3,
    ERR_IO_STOPPED = -4,
    ERR_NAME_TOO_LONG = -5,
    ERR_KEY_TOO_LONG = -7,
    ERR_KEY_TOO_SHORT = -8,
    ERR_NUMBER = -10,
    ERR_REDUNDANCY = -11,
    ERR_HEADER = -12,
    ERR_NAME_REFUSED = -13,
    ERR_OTHER_ARCHIVE = -14,
    ERR_INPUT_CHANGED = -15,
    ERR_NAME_TAKEN = -16,
    ERR_KEY_NOT_ASCII = -17,
    ERR_NO_SET = -18,     // no usable recovery set beside a coded file
    ERR_NOT_CODED = -19,  // a file whose size no coded file has
    ERR_NOISE = -20,
};

}  // namespace kestrav3
