// CRC-32 of ISO 3309 / ITU-T V.42 as ZIP, gzip and PNG use it (reflected
// polynomial 0xEDB88320): "123456789" gives 0xCBF43926.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace volok {

namespace platform {
class File;
}

// Feeds `size` bytes into the running value, which the caller starts at
// 0xFFFFFFFF and inverts at the end; neither happens here. An empty update
// (`buffer` may then be null) leaves the value as it is.
void Crc32Update(const void* buffer, std::uint32_t size, std::uint32_t& value);

// The CRC-32 of the whole stream from its first byte, read in 1 MiB blocks
// through one buffer. False on a seek or read error; `result` then means
// nothing.
[[nodiscard]] bool StreamCrc32(platform::File& stream, std::uint32_t& result);

// The CRC-32 of a file's contents; the file is opened for reading while
// others may read and write it. A file that cannot be opened gives false
// with `result` 0.
[[nodiscard]] bool FileCrc32(const std::string& file_name, std::uint32_t& result);

}  // namespace volok
