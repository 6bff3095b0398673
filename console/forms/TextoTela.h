#pragma once
// Translation of a visible text into a QString for the windows: every text
// goes through the language file, never through Qt's tr().

#include <QString>
#include <string_view>

#include "common/Traducao.h"

inline QString Tr(std::string_view texto) { return QString::fromStdString(Traduz(texto)); }
// Captions whose "&" marks the accelerator.
inline QString TrLNG(std::string_view texto) { return QString::fromStdString(TraduzLNG(texto)); }
