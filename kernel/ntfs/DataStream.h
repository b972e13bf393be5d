// How a file's unnamed $DATA is stored, for the listing and for recovery:
// as it is, compressed (read back decompressed through the attribute), or
// encrypted with EFS (the stored bytes are ciphertext no one but the
// owner's key can turn back into the file).
#pragma once

#include <string>

namespace kestrel::ntfs {

class CAttrBase;
class CFileRecord;

enum class StreamKind { Plain, Compressed, Encrypted };

// From the record's built $STANDARD_INFORMATION (DOS flags 0x4000
// encrypted) and its unnamed $DATA's header flags. Encrypted wins over
// compressed; resident data is plain even in a compressed file.
StreamKind ClassifyDataStream(CFileRecord& record);

// True when a read of `data` met compression units that did not
// decompress: they came back as zeros, so the copy is not whole.
bool HadCorruptUnits(const CAttrBase* data);

// The sentences recovery reports for these streams.
extern const char16_t kEncryptedReason[];
std::u16string CorruptUnitsReason(const CAttrBase* data);

}  // namespace kestrel::ntfs
