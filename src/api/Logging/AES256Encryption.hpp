#pragma once

#include <memory>
#include <optional>
#include <string_view>

#include "platform/Result.hpp"

namespace qz {

class AES256CBCEncryptor;

// Hex keys and the encrypted records of the log files.
class AES256Encryption {
  public:
    AES256Encryption() = delete;

    // Record marker byte.
    static constexpr uint8_t kRecordMarker = 0xBD;
    // The largest ciphertext a record's 16-bit length can hold.
    static constexpr size_t kMaxCiphertext = 65535;
    // The largest plaintext whose ciphertext still fits (65520 bytes of ciphertext).
    static constexpr size_t kMaxPlaintext = 65519;

    // Lower-cases the text and reads it two hex digits at a time; characters
    // that start no digit pair are skipped, a digit followed by a non-digit
    // gives that digit alone, and an unpaired last character is ignored.
    static Data dataFromHexString(std::string_view hex);

    // length + 1 bytes, zero-filled, holding the start of the decoded text.
    static Data fillDataArray(size_t length, std::string_view hex);

    // A record: 0xBD, the ciphertext length (big-endian, 16 bits), then the
    // AES-256-CBC (PKCS7) ciphertext of `data`. None when encryption fails or
    // the ciphertext would not fit the length field.
    static std::optional<Data> encryptedDataWithHexKey(const Data& data, std::string_view hexKey,
                                                       std::string_view hexIV);

    // The plaintext of a bare ciphertext (no record header), or none.
    static std::optional<Data> originalDataWithHexKey(const Data& ciphertext,
                                                      std::string_view hexKey,
                                                      std::string_view hexIV);

    // Records under one key and IV, both read from their hex texts once. Not thread-safe.
    class RecordEncryptor {
      public:
        RecordEncryptor(std::string_view hexKey, std::string_view hexIV);
        ~RecordEncryptor();

        // The record of text + suffix into `record` (replacing its contents): the same bytes
        // as encryptedDataWithHexKey. False, with `record` unspecified, when encryption fails
        // or the ciphertext would not fit the length field.
        bool encrypt(std::string_view text, std::string_view suffix, Data& record);

      private:
        std::unique_ptr<AES256CBCEncryptor> cipher_;
    };
};

}  // namespace qz
