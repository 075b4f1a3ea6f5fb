#pragma once
// Process-wide values shared by every window of the library: the OCR switch and the message map
// that turns server message keys into texts.

#include <memory>

namespace dorvex {

class CLanguage;

void SetOcrEnabled(bool enabled);
bool IsOcrEnabled();

void SetLanguage(std::shared_ptr<CLanguage> map);
std::shared_ptr<CLanguage> GetLanguage();

}  // namespace dorvex
