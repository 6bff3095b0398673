#include "console/CodigoCliente.h"

#include <limits>
#include <stdexcept>

#include "common/db/Firebird.h"

std::int32_t ReservaCodigosCliente(Transaction& tr, std::int32_t quantidade) {
    if (quantidade < 1) quantidade = 1;
    // The generator moves outside transactions, so concurrent consoles never
    // get the same code; a generator behind the table (rows from an older
    // console) is moved past the highest code first.
    Statement st(
        tr, "EXECUTE BLOCK (N BIGINT = ?) RETURNS (PRIMEIRO BIGINT) AS "
            "DECLARE M BIGINT; "
            "BEGIN "
            "  PRIMEIRO = GEN_ID(GEN_CLI_ID, :N) - :N + 1; "
            "  SELECT COALESCE(MAX(CLI_CODIGO), 0) FROM CLIENTE INTO :M; "
            "  IF (M >= PRIMEIRO) THEN PRIMEIRO = GEN_ID(GEN_CLI_ID, M - PRIMEIRO + 1) - :N + 1; "
            "  SUSPEND; "
            "END");
    st.SetBigInt(0, quantidade);
    std::int64_t primeiro = 0;
    auto c = st.Abre();
    if (c.Proxima()) primeiro = c.GetBigInt(0);
    if (primeiro < 1 || primeiro + quantidade - 1 > std::numeric_limits<std::int32_t>::max())
        throw std::overflow_error("códigos de contato esgotados");
    return static_cast<std::int32_t>(primeiro);
}

std::int32_t NovoCodigoCliente(Transaction& tr) { return ReservaCodigosCliente(tr, 1); }
