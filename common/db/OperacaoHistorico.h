#pragma once
// The operation codes of the history (LOGHISTORY.LOG_OPERACAO), written by
// the console for its users' changes (3-25) and by the recording service and
// the console for the service (101-104). Stored in every installation's
// database: the numbers never change.

namespace Operacao {

enum : int {
    RemovidoOriginadas = 3,  // deleted recordings, by call type: originated,
    RemovidoRecebidas = 4,   // received
    RemovidoInternas = 5,    // and internal
    EditadoConfiguracao = 6,
    EditadoAlertas = 7,
    InseridoRamal = 8,
    RemovidoRamal = 9,
    EditadoRamal = 10,
    InseridoUsuario = 11,
    RemovidoUsuario = 12,
    EditadoUsuario = 13,
    InseridoCliente = 14,
    RemovidoCliente = 15,
    EditadoCliente = 16,
    InseridoGrupo = 17,
    RemovidoGrupo = 18,
    EditadoGrupo = 19,
    AcessadoGravacao = 20,
    EditadoGravacao = 21,
    ExportadoGravacao = 22,
    InseridoCentral = 23,
    RemovidoCentral = 24,
    EditadoCentral = 25,
    ServicoIniciado = 101,  // by the service at its start, or a user from the console
    ServicoParado = 102,    // by the service at its stop, or a user from the console
    AvisoServico = 103,     // known to the console; nothing writes it
    ErroServico = 104,      // an error line of the service's log
};

}  // namespace Operacao
