#include "kernel/RecoveryWriter.h"

namespace kestrel {

int RecoverNtfsItem(char16_t, const std::u16string&, uint64_t) { return 0; }

}  // namespace kestrel
