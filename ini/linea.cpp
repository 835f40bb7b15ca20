#include "ini/linea.h"

#include <utility>

CLinea::~CLinea() = default;

void CLinea::SetTextLine(ini::WideString newText, ini::WideString newIndent) {
    kind = kText;
    text.Adopt(std::move(newText));
    indent.Adopt(std::move(newIndent));
    padBeforeEquals.clear();
    padAfterEquals.clear();
    sectionIndex = -1;
    entryIndex = -1;
}

void CLinea::SetSectionLine(std::int32_t newSectionIndex, ini::WideString newText,
                            ini::WideString newIndent) {
    kind = kSection;
    sectionIndex = newSectionIndex;
    text.Adopt(std::move(newText));
    indent.Adopt(std::move(newIndent));
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
    padBeforeEquals.Adopt(std::move(newPadBeforeEquals));
    padAfterEquals.Adopt(std::move(newPadAfterEquals));
    indent.Adopt(std::move(newIndent));
    text.clear();
}
