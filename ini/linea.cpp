#include "ini/linea.h"

#include <utility>

CLinea::~CLinea() = default;

void CLinea::SetTextLine(ini::WideString newText, ini::WideString newIndent) {
    kind = kText;
    text = std::move(newText);
    indent = std::move(newIndent);
    padBeforeEquals.clear();
    padAfterEquals.clear();
    sectionIndex = -1;
    entryIndex = -1;
}

void CLinea::SetSectionLine(std::int32_t newSectionIndex, ini::WideString newText,
                            ini::WideString newIndent) {
    kind = kSection;
    sectionIndex = newSectionIndex;
    text = std::move(newText);
    indent = std::move(newIndent);
    padBeforeEquals.clear();
    padAfterEquals.clear();
    entryIndex = -1;
}

void CLinea::SetEntryLine(std::int32_t newSectionIndex, std::int32_t newEntryIndex,
                          ini::WideString newPadBeforeEquals, ini::WideString newPadAfterEquals,
                          ini::WideString newIndent) {
    kind = kEntry;
    sectionIndex = newSectionIndex;
    entryIndex = newEntryIndex;
    padBeforeEquals = std::move(newPadBeforeEquals);
    padAfterEquals = std::move(newPadAfterEquals);
    indent = std::move(newIndent);
    text.clear();
}
