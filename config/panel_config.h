// The configuration of one panel module: its values, their ranges and defaults, the
// three key operations, and the cut of the configuration into 17 records of 3 bytes.
//
// The values themselves live in the window's edit fields; this layer only knows what
// they mean and how a field's text becomes a byte and back.
#pragma once

#include <QString>

#include <array>
#include <cstdint>
#include <optional>

namespace lorvane {

inline constexpr int KEY_COUNT = 16;     // keys on the panel, rows of the window
inline constexpr int RECORD_COUNT = 17;  // record 0 + one per key
inline constexpr int LAST_RECORD = 16;

// Record number, 0 (refresh period) or k = 1..16 (key k). Kept signed and wide
// enough that a caller's out-of-range number can be recognised instead of wrapping.
using record_no = int;

// Numeric code of a key operation: 1..3 for the three operations, 0 for none.
using operation_code = std::uint8_t;

inline constexpr std::uint8_t DEFAULT_MODULE_ADDRESS = 1;
inline constexpr std::uint8_t DEFAULT_REFRESH_PERIOD = 50;
inline constexpr std::uint8_t DEFAULT_KEY_ADDRESS = 1;
inline constexpr operation_code DEFAULT_OPERATION = 1;

// The operation display texts, in code order (index 0 is code 1). Held once; every
// operation list and both conversions below use this table.
const std::array<QString, 3>& operation_texts();

// 1, 2 or 3 when `text` equals an operation text exactly (case-sensitive, untrimmed),
// tested in table order; 0 for any other text, the empty text included.
operation_code operation_code_of(const QString& text);

// The display text of code 1..3; the empty text for 0 and 4..255.
QString operation_text_of(std::uint8_t code);

// The byte a field's text stands for: a whole decimal number 0..255, surrounding
// spaces and leading zeros allowed. Empty text, signs, letters, fractions and numbers
// of 256 or more give no value; the caller tells the user.
std::optional<std::uint8_t> byte_of_text(const QString& text);

// A byte as the window shows it: plain decimal, no sign, no padding ("0", "7", "255").
QString text_of_byte(std::uint8_t value);

// One key's settings: where the key acts, on which line, and how.
struct key_binding
{
    std::uint8_t address = DEFAULT_KEY_ADDRESS;
    std::uint8_t line = 0;
    operation_code operation = DEFAULT_OPERATION;

    friend bool operator==(const key_binding&, const key_binding&) = default;
};

// The three value bytes of one record.
struct record_values
{
    std::uint8_t value1 = 0;
    std::uint8_t value2 = 0;
    std::uint8_t value3 = 0;

    friend bool operator==(const record_values&, const record_values&) = default;
};

// Everything written to or read from one module.
struct panel_config
{
    std::uint8_t module_address = DEFAULT_MODULE_ADDRESS;
    std::uint8_t refresh_period = DEFAULT_REFRESH_PERIOD;
    std::array<key_binding, KEY_COUNT> keys = default_keys();

    // The start-up values: key k has address 1, line k and the first operation.
    static constexpr std::array<key_binding, KEY_COUNT> default_keys()
    {
        std::array<key_binding, KEY_COUNT> keys{};
        for (int i = 0; i < KEY_COUNT; ++i)
            keys[static_cast<std::size_t>(i)].line = static_cast<std::uint8_t>(i + 1);
        return keys;
    }

    friend bool operator==(const panel_config&, const panel_config&) = default;
};

constexpr bool is_valid_record(record_no record)
{
    return record >= 0 && record <= LAST_RECORD;
}

// The values record `record` (0..16) carries: (refresh period, 0, 0) for record 0,
// (address, line, operation) of key k for record k.
record_values values_of_record(const panel_config& config, record_no record);

// The inverse: store the values of record `record` (0..16) into `config`; record 0
// keeps only value 1. Other record numbers change nothing.
void store_record(panel_config& config, record_no record, const record_values& values);

// The fields of the window that hold a byte, for naming them to the user.
enum class byte_field { module_address, refresh_period, key_address, key_line };

}  // namespace lorvane
