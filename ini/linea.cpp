#include "ini/linea.h"

#include <utility>

CLinea::~CLinea() = default;

void CLinea::SetTextLine(std::pmr::u16string newText, std::pmr::u16string newIndent) {
    kind = kText;
    text = std::move(newText);
    indent = std::move(newIndent);
    padBeforeEquals.clear();
    padAfterEquals.clear();
    sectionIndex = -1;
    entryIndex = -1;
}

void CLinea::SetSectionLine(std::int32_t newSectionIndex, std::pmr::u16string newText, std::pmr::u16string newIndent) {
    kind = kSection;
    sectionIndex = newSectionIndex;
    text = std::move(newText);
    indent = std::move(newIndent);
    padBeforeEquals.clear();
    padAfterEquals.clear();
    entryIndex = -1;
}

void CLinea::SetEntryLine(std::int32_t newSectionIndex, std::int32_t newEntryIndex,
                          std::pmr::u16string newPadBeforeEquals, std::pmr::u16string newPadAfterEquals,
                          std::pmr::u16string newIndent) {
    kind = kEntry;
    sectionIndex = newSectionIndex;
    entryIndex = newEntryIndex;
    padBeforeEquals = std::move(newPadBeforeEquals);
    padAfterEquals = std::move(newPadAfterEquals);
    indent = std::move(newIndent);
    text.clear();
}
