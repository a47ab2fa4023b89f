// Number texts of the product model's properties, written fast.
#pragma once

namespace azm {

// Room number16Text may need: sign, 16 digits, point and exponent.
constexpr int number16_text_room = 32;

// Writes value as printf's "%.16g" does in the C locale (the text the product model's number
// translation gives): 16 significant digits, correctly rounded, shortest of fixed and exponent
// form, trailing zeros removed. Returns the end of the text.
char *number16Text(char *to, double value);

}  // namespace azm
