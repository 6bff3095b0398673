#pragma once
// The main window's rules without the window: the one-second timer's
// connection-loss steps (countdown text, the single notice, when the start-up
// sequence runs again), the guard and permission level of each button and
// menu item, and the console's fixed number and date formats.
//
// Main thread only; nothing here throws.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/DataHora.h"

class MDados;

// What one tick of the service timer must do, in this order.
struct AcoesTick {
    bool desliga = false;                    // the window is closing: stop the timer
    std::optional<std::string> textoPainel;  // countdown for PainelMensagem
    bool mostraAviso = false;                // close the other windows, then show the notice
    bool reinicia = false;                   // run the start-up sequence again
};

// What the window tells the tick about itself.
struct EstadoJanelaMain {
    bool monitorAtivo = true;        // MonitorServicoAtivo
    bool inicializando = false;      // the start-up sequence is running
    bool sequenciaPendente = false;  // a start-up sequence is queued
    bool avisoAberto = false;        // the loss notice is still on screen
};

// "Conexão com o banco de dados foi perdida. Reconexão será tentada em N segundos"
// for `segundos` since the loss: 60 at 0, 0 from 60 on.
std::string TextoContagem(long long segundos);

// One tick. It clears the module's pending-notice flag when it asks for the
// notice. The restart waits until more than 60 whole seconds passed since the
// first loss, the notice was dismissed, and no sequence runs or is queued, so
// restarts never stack.
AcoesTick TickConexao(MDados& dados, const DataHora& agora, const EstadoJanelaMain& janela);

// Guard and level of an action of the main window: `guarda` asks BaseConectada
// first; `nivel` 1 is administrators only, 2 every profile, 0 no test.
struct RegraAcao {
    std::string componente;
    bool guarda = false;
    int nivel = 0;
    std::string figura;  // picture name of the button that shows the action
};
const std::vector<RegraAcao>& RegrasMain();
const RegraAcao* RegraDe(const std::string& componente);
// The guard first (it shows its own warning), then the level.
bool AutorizaAcao(const RegraAcao& regra, MDados& dados,
                  const std::function<bool(int)>& verificaPermissao);

// The console's fixed formats, whatever the machine's locale: thousands ".",
// decimal ",", dates "dd/mm/yy".
std::string FormataInteiro(long long valor);
std::string FormataDecimal(double valor, int casas);
std::string FormataData(const DataHora& d);
