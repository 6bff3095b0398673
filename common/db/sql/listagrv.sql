/* LISTAGRV gives one row per recording of the period and per group row of the
   main database whose extension or extension name is the recording's
   extension (once, with a NULL group, when none is), with the recording's
   contact, ordered by the recording's time. Groups and contacts come from
   the main database. The unit's group rows are read once per call into a
   per-transaction table rather than once per recording, which would cost a
   server round trip per row: one row per distinct key of a group row (its
   extension, and its name when that differs), so each recording finds its
   group rows by one index lookup. Contacts are looked up only for the rows
   given, as they come, a batch of the codes of the next rows at a time (one
   round trip per batch), so a search that is read only in part, or whose
   rows have few contacts, does not copy the whole contacts register. A
   contact code of 0 means no contact. CHAMADA keeps two open searches of one
   transaction apart.

   TMP_RAMALVISTO narrows a search to the extensions a user may see: while the
   caller's transaction holds rows there (the trimmed extension numbers and
   names in upper case), a recording whose trimmed extension is none of them
   is left out. Recordings whose extension is empty or begins or ends with a
   control character (compared as bytes: text comparison ignores trailing
   blanks) always come, so the caller's own comparison stays the
   one that decides. Empty, it changes nothing. */
EXECUTE BLOCK AS
BEGIN
  IF (NOT EXISTS (SELECT 1 FROM RDB$RELATIONS WHERE RDB$RELATION_NAME = 'TMP_GRUPOCHAVE')) THEN
  BEGIN
    EXECUTE STATEMENT 'CREATE GLOBAL TEMPORARY TABLE TMP_GRUPOCHAVE (CHAMADA BIGINT NOT NULL, PAB_CODIGO INTEGER, CHAVE VARCHAR(30), GRP_DESCRICAO VARCHAR(30)) ON COMMIT DELETE ROWS' WITH AUTONOMOUS TRANSACTION;
    EXECUTE STATEMENT 'CREATE INDEX IX_TMP_GRUPOCHAVE ON TMP_GRUPOCHAVE (CHAMADA, PAB_CODIGO, CHAVE)' WITH AUTONOMOUS TRANSACTION;
  END
  IF (NOT EXISTS (SELECT 1 FROM RDB$RELATIONS WHERE RDB$RELATION_NAME = 'TMP_CLIENTE')) THEN
  BEGIN
    EXECUTE STATEMENT 'CREATE GLOBAL TEMPORARY TABLE TMP_CLIENTE (CHAMADA BIGINT NOT NULL, CLI_CODIGO INTEGER, CLI_DESCRICAO VARCHAR(40), CLI_IDENTIFICADOR VARCHAR(20)) ON COMMIT DELETE ROWS' WITH AUTONOMOUS TRANSACTION;
    EXECUTE STATEMENT 'CREATE INDEX IX_TMP_CLIENTE ON TMP_CLIENTE (CHAMADA, CLI_CODIGO)' WITH AUTONOMOUS TRANSACTION;
  END
  IF (NOT EXISTS (SELECT 1 FROM RDB$RELATIONS WHERE RDB$RELATION_NAME = 'TMP_RAMALVISTO')) THEN
  BEGIN
    EXECUTE STATEMENT 'CREATE GLOBAL TEMPORARY TABLE TMP_RAMALVISTO (RAMAL VARCHAR(30)) ON COMMIT DELETE ROWS' WITH AUTONOMOUS TRANSACTION;
    EXECUTE STATEMENT 'CREATE INDEX IX_TMP_RAMALVISTO ON TMP_RAMALVISTO (RAMAL)' WITH AUTONOMOUS TRANSACTION;
  END
  IF (NOT EXISTS (SELECT 1 FROM RDB$GENERATORS WHERE RDB$GENERATOR_NAME = 'GEN_LISTAGRV')) THEN
    EXECUTE STATEMENT 'CREATE SEQUENCE GEN_LISTAGRV' WITH AUTONOMOUS TRANSACTION;
END^

/* One row per code of CODIGOS (decimal codes separated by commas), in their
   order, with the contact of the main database that has it (NULL name and
   identifier when none), in one round trip. */
CREATE OR ALTER PROCEDURE LISTACLIENTECODIGOS (CODIGOS VARCHAR(30000) CHARACTER SET NONE)
RETURNS (CLI_CODIGO INTEGER, CLI_DESCRICAO VARCHAR(40), CLI_IDENTIFICADOR VARCHAR(20))
AS
BEGIN
  FOR EXECUTE STATEMENT ('EXECUTE BLOCK (L VARCHAR(30000) CHARACTER SET NONE = ?) RETURNS (C INTEGER, D VARCHAR(40), I VARCHAR(20)) AS DECLARE P INTEGER = 1; DECLARE Q INTEGER; DECLARE N INTEGER; BEGIN N = CHAR_LENGTH(L); WHILE (P <= N) DO BEGIN Q = POSITION('','', L, P); IF (Q = 0) THEN Q = N + 1; C = CAST(SUBSTRING(L FROM P FOR Q - P) AS INTEGER); D = NULL; I = NULL; SELECT FIRST 1 CLI_DESCRICAO, CLI_IDENTIFICADOR FROM CLIENTE WHERE CLI_CODIGO = :C INTO :D, :I; SUSPEND; P = Q + 1; END END') (:CODIGOS)
    ON EXTERNAL 'localhost:VERUZADU' AS USER 'HMCXJXTFHJ' PASSWORD 'lomfadrix'
    INTO :CLI_CODIGO, :CLI_DESCRICAO, :CLI_IDENTIFICADOR
  DO SUSPEND;
END^

CREATE OR ALTER PROCEDURE LISTAGRV (DTINI TIMESTAMP, DTFIM TIMESTAMP)
RETURNS (GRV_CODIGO INTEGER, GRV_RAMGRAVADO VARCHAR(20), GRV_DESTINO VARCHAR(20),
  GRV_CONTROLE VARCHAR(40), GRV_DATAGRV TIMESTAMP, GRV_TPLIGA SMALLINT,
  GRV_IDENTIFICA VARCHAR(30), GRV_DURACAO INTEGER, CLI_CODIGO INTEGER,
  CLI_DESCRICAO VARCHAR(40), CLI_IDENTIFICADOR VARCHAR(20),
  GRP_DESCRICAO VARCHAR(30), GRV_TEMAUDIO SMALLINT)
AS
DECLARE CHAMADA BIGINT;
DECLARE UNIDADE INTEGER;
DECLARE FILTRA SMALLINT = 0;
DECLARE CODIGOS VARCHAR(30000) CHARACTER SET NONE;
DECLARE CODIGO INTEGER;
DECLARE ACHOU SMALLINT;
DECLARE RAMAL VARCHAR(30);
DECLARE NOME VARCHAR(30);
DECLARE GRUPO VARCHAR(30);
DECLARE DESCRICAO VARCHAR(40);
DECLARE IDENTIFICADOR VARCHAR(20);
BEGIN
  CHAMADA = GEN_ID(GEN_LISTAGRV, 1);
  IF (EXISTS (SELECT 1 FROM TMP_RAMALVISTO)) THEN FILTRA = 1;
  /* A group row matches a recording whose extension equals its extension or
     its name: one key row for each, but one alone when the two are equal, so
     the join gives each matching group row once. */
  FOR SELECT DISTINCT g.pab_codigo FROM gravacao g
      WHERE g.grv_datagrv >= :DTINI AND g.grv_datagrv <= :DTFIM
      INTO :UNIDADE
  DO
    FOR SELECT p.rml_ramal, p.rml_nome, p.grp_descricao FROM listaramgrupo(:UNIDADE) p
        INTO :RAMAL, :NOME, :GRUPO
    DO
    BEGIN
      IF (RAMAL IS NOT NULL) THEN
        INSERT INTO TMP_GRUPOCHAVE (CHAMADA, PAB_CODIGO, CHAVE, GRP_DESCRICAO)
          VALUES (:CHAMADA, :UNIDADE, :RAMAL, :GRUPO);
      IF (NOME IS NOT NULL AND (RAMAL IS NULL OR NOT (NOME = RAMAL))) THEN
        INSERT INTO TMP_GRUPOCHAVE (CHAMADA, PAB_CODIGO, CHAVE, GRP_DESCRICAO)
          VALUES (:CHAMADA, :UNIDADE, :NOME, :GRUPO);
    END

  FOR SELECT g.grv_codigo, g.grv_ramgravado, g.grv_destino, g.grv_controle,
        g.grv_datagrv, g.grv_tpliga, g.grv_identifica, g.grv_duracao,
        g.cli_codigo, p.grp_descricao, g.grv_temaudio
      FROM gravacao g
      LEFT JOIN tmp_grupochave p ON p.chamada = :CHAMADA AND p.pab_codigo = g.pab_codigo
        AND p.chave = g.grv_ramgravado
      WHERE g.grv_datagrv >= :DTINI AND g.grv_datagrv <= :DTFIM
        AND (:FILTRA = 0
          OR COALESCE(TRIM(g.grv_ramgravado), '') = ''
          OR CAST(LEFT(TRIM(g.grv_ramgravado), 1) AS VARCHAR(4) CHARACTER SET OCTETS) < x'20'
          OR CAST(RIGHT(TRIM(g.grv_ramgravado), 1) AS VARCHAR(4) CHARACTER SET OCTETS) < x'20'
          OR EXISTS (SELECT 1 FROM tmp_ramalvisto v WHERE v.ramal = UPPER(TRIM(g.grv_ramgravado))))
      ORDER BY g.grv_datagrv, g.grv_codigo
      INTO :GRV_CODIGO, :GRV_RAMGRAVADO, :GRV_DESTINO, :GRV_CONTROLE,
        :GRV_DATAGRV, :GRV_TPLIGA, :GRV_IDENTIFICA, :GRV_DURACAO,
        :CLI_CODIGO, :GRP_DESCRICAO, :GRV_TEMAUDIO
  DO
  BEGIN
    CLI_DESCRICAO = NULL;
    CLI_IDENTIFICADOR = NULL;
    IF (CLI_CODIGO IS NOT NULL AND CLI_CODIGO <> 0) THEN
    BEGIN
      ACHOU = 0;
      SELECT FIRST 1 1, c.cli_descricao, c.cli_identificador FROM tmp_cliente c
        WHERE c.chamada = :CHAMADA AND c.cli_codigo = :CLI_CODIGO
        INTO :ACHOU, :CLI_DESCRICAO, :CLI_IDENTIFICADOR;
      IF (ACHOU = 0) THEN
      BEGIN
        /* This row's contact and those of the next rows of the period not
           looked up yet. Every code looked up is kept, with no name when the
           main database has no such contact, so it is never asked again. */
        CODIGOS = CLI_CODIGO;
        FOR SELECT FIRST 2000 g.cli_codigo FROM gravacao g
            WHERE g.grv_datagrv >= :GRV_DATAGRV AND g.grv_datagrv <= :DTFIM
            ORDER BY g.grv_datagrv
            INTO :CODIGO
        DO
          IF (CODIGO IS NOT NULL AND CODIGO <> 0 AND CODIGO <> CLI_CODIGO
              AND NOT EXISTS (SELECT 1 FROM tmp_cliente c
                WHERE c.chamada = :CHAMADA AND c.cli_codigo = :CODIGO)) THEN
            CODIGOS = CODIGOS || ',' || CODIGO;
        FOR SELECT l.cli_codigo, l.cli_descricao, l.cli_identificador
            FROM listaclientecodigos(:CODIGOS) l
            INTO :CODIGO, :DESCRICAO, :IDENTIFICADOR
        DO
          /* A code met twice in the batch is kept once. */
          IF (NOT EXISTS (SELECT 1 FROM tmp_cliente c
                WHERE c.chamada = :CHAMADA AND c.cli_codigo = :CODIGO)) THEN
          BEGIN
            INSERT INTO TMP_CLIENTE (CHAMADA, CLI_CODIGO, CLI_DESCRICAO, CLI_IDENTIFICADOR)
              VALUES (:CHAMADA, :CODIGO, :DESCRICAO, :IDENTIFICADOR);
            IF (CODIGO = CLI_CODIGO) THEN
            BEGIN
              CLI_DESCRICAO = DESCRICAO;
              CLI_IDENTIFICADOR = IDENTIFICADOR;
            END
          END
      END
    END
    SUSPEND;
  END

  DELETE FROM TMP_GRUPOCHAVE WHERE CHAMADA = :CHAMADA;
  DELETE FROM TMP_CLIENTE WHERE CHAMADA = :CHAMADA;
END^
