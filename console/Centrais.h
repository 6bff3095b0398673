#pragma once
// The PABX units registered in the main database's PABX table, as the units
// list and the unit picker show them, and the removal of a unit with every
// row that depends on its code.
//
// Main thread only (MDados' main connection).

#include <functional>
#include <string>
#include <vector>

class MDados;

// No more units than this may be registered.
inline constexpr int MaximoCentrais = 140;

struct ItemCentral {
    int codigo = 0;
    std::string descricao;   // trimmed
    std::string enderecoIP;  // trimmed PAB_KELVENDERIP
    bool usb = false;        // PAB_USB_ZIMB = 1
    std::string caminhoUSB;  // trimmed PAB_USBPATH
    long long sdTotal = 0;
    long long sdUsado = 0;
};

// "000" code.
std::string CodigoCentralTexto(int codigo);
// The list's address cell: "USB em <path>" for a USB unit, else the IP.
std::string EnderecoCentral(const ItemCentral& c);
// The SD-card cell: used/total in whole percent, at least two digits, + " %";
// empty when the total is not above 0.
std::string UsoSDCard(long long usado, long long total);

// Every unit, by code. Throws what MDados throws.
std::vector<ItemCentral> CarregaCentrais(MDados& dados);

// Deletes the unit's PABX, DOWNPABX, GRPRAMAL and DWNHISTORY rows in one
// transaction, so a unit later given the same code inherits nothing. False
// with the server's reason in `erro` (nothing deleted then).
bool RemoveCentral(MDados& dados, int codigo, std::string& erro);
// After the unit's row was edited: connects its database and runs its
// UPDATEPABX procedure there. Throws what MDados raises.
void AtualizaBancoCentral(MDados& dados, int codigo);

// The database of a unit just registered: made through the server as the
// program's user where MontaCaminhoBD puts it (an existing one is kept), then
// connected as the unit's database, with any extension permissions an old
// file carried for the code cleared. Empty on success, else the server's
// reason. The unit's PABX row stays either way. The making of the file runs
// through `emSegundoPlano` (on a worker behind a progress window, in the
// program; at once by default): it uses nothing of the data module's.
std::string
PreparaBancoCentral(MDados& dados, int codigo,
                    const std::function<void(const std::function<void()>&)>& emSegundoPlano = {});
