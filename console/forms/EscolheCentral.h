#pragma once
// The unit change shared by the recordings and deletion windows: the picker,
// then the chosen unit's database. Main thread only.

#include <string>

struct ContextoConsole;

enum class TrocaCentral { Cancelada, Conectada, Falhou };

// Shows the picker (unless it is already visible); on OK connects the chosen
// unit's database (the previous one is closed by then). Falhou: the error was
// shown, and no unit database is connected any more. With `atualizaRamais`
// a unit flagged for it gets its extension names refreshed from its PABX
// first (VerificaAtualizacaoRamais), as the main window's recordings button
// wants.
TrocaCentral EscolheCentral(ContextoConsole& ctx, int& codigo, std::string& nome,
                            bool atualizaRamais = false);
