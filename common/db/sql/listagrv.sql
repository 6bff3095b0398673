/* LISTAGRV gives one row per recording of the period and per group row of the
   main database whose extension or extension name is the recording's
   extension (once, with a NULL group, when none is), with the recording's
   contact, ordered by the recording's time. Groups and contacts come from
   the main database through LISTARAMGRUPO and LISTACLIENTE; they are read
   once per call into these per-transaction tables rather than once per
   recording, which would cost a server round trip per row. CHAMADA keeps
   two open searches of one transaction apart. */
CREATE GLOBAL TEMPORARY TABLE TMP_RAMGRUPO (
  CHAMADA BIGINT NOT NULL,
  PAB_CODIGO INTEGER,
  RML_RAMAL VARCHAR(30),
  RML_NOME VARCHAR(30),
  GRP_DESCRICAO VARCHAR(30)
) ON COMMIT DELETE ROWS^
CREATE INDEX IX_TMP_RAMGRUPO_RAMAL ON TMP_RAMGRUPO (CHAMADA, PAB_CODIGO, RML_RAMAL)^
CREATE INDEX IX_TMP_RAMGRUPO_NOME ON TMP_RAMGRUPO (CHAMADA, PAB_CODIGO, RML_NOME)^

CREATE GLOBAL TEMPORARY TABLE TMP_CLIENTE (
  CHAMADA BIGINT NOT NULL,
  CLI_CODIGO INTEGER,
  CLI_DESCRICAO VARCHAR(40),
  CLI_IDENTIFICADOR VARCHAR(20)
) ON COMMIT DELETE ROWS^
CREATE INDEX IX_TMP_CLIENTE ON TMP_CLIENTE (CHAMADA, CLI_CODIGO)^

CREATE SEQUENCE GEN_LISTAGRV^

CREATE OR ALTER PROCEDURE LISTAGRV (DTINI TIMESTAMP, DTFIM TIMESTAMP)
RETURNS (GRV_CODIGO INTEGER, GRV_RAMGRAVADO VARCHAR(20), GRV_DESTINO VARCHAR(20),
  GRV_CONTROLE VARCHAR(40), GRV_DATAGRV TIMESTAMP, GRV_TPLIGA SMALLINT,
  GRV_IDENTIFICA VARCHAR(30), GRV_DURACAO INTEGER, CLI_CODIGO INTEGER,
  CLI_DESCRICAO VARCHAR(40), CLI_IDENTIFICADOR VARCHAR(20),
  GRP_DESCRICAO VARCHAR(30), GRV_TEMAUDIO SMALLINT)
AS
DECLARE CHAMADA BIGINT;
DECLARE UNIDADE INTEGER;
BEGIN
  CHAMADA = GEN_ID(GEN_LISTAGRV, 1);
  FOR SELECT DISTINCT g.pab_codigo FROM gravacao g
      WHERE g.grv_datagrv >= :DTINI AND g.grv_datagrv <= :DTFIM
      INTO :UNIDADE
  DO
    INSERT INTO TMP_RAMGRUPO (CHAMADA, PAB_CODIGO, RML_RAMAL, RML_NOME, GRP_DESCRICAO)
      SELECT :CHAMADA, :UNIDADE, p.rml_ramal, p.rml_nome, p.grp_descricao
      FROM listaramgrupo(:UNIDADE) p;
  IF (EXISTS (SELECT 1 FROM gravacao g WHERE g.grv_datagrv >= :DTINI
              AND g.grv_datagrv <= :DTFIM AND g.cli_codigo <> 0)) THEN
    INSERT INTO TMP_CLIENTE (CHAMADA, CLI_CODIGO, CLI_DESCRICAO, CLI_IDENTIFICADOR)
      SELECT :CHAMADA, c.cli_codigo, c.cli_descricao, c.cli_identificador
      FROM listacliente c;

  FOR SELECT g.grv_codigo, g.grv_ramgravado, g.grv_destino, g.grv_controle,
        g.grv_datagrv, g.grv_tpliga, g.grv_identifica, g.grv_duracao,
        g.cli_codigo, c.cli_descricao, c.cli_identificador, p.grp_descricao,
        g.grv_temaudio
      FROM gravacao g
      LEFT JOIN tmp_cliente c ON c.chamada = :CHAMADA AND c.cli_codigo = g.cli_codigo
      LEFT JOIN tmp_ramgrupo p ON p.chamada = :CHAMADA AND p.pab_codigo = g.pab_codigo
        AND ((p.rml_ramal = g.grv_ramgravado) OR (p.rml_nome = g.grv_ramgravado))
      WHERE g.grv_datagrv >= :DTINI AND g.grv_datagrv <= :DTFIM
      ORDER BY g.grv_datagrv, g.grv_codigo
      INTO :GRV_CODIGO, :GRV_RAMGRAVADO, :GRV_DESTINO, :GRV_CONTROLE,
        :GRV_DATAGRV, :GRV_TPLIGA, :GRV_IDENTIFICA, :GRV_DURACAO,
        :CLI_CODIGO, :CLI_DESCRICAO, :CLI_IDENTIFICADOR, :GRP_DESCRICAO,
        :GRV_TEMAUDIO
  DO SUSPEND;

  DELETE FROM TMP_RAMGRUPO WHERE CHAMADA = :CHAMADA;
  DELETE FROM TMP_CLIENTE WHERE CHAMADA = :CHAMADA;
END^
