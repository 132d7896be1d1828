/* The demo database: the table ids the database side reports under, the stock
   table the demo changes, and what reports committed changes to the notify
   server through the UDR module "vexa_notify".
   Run by build-demo-db.sh after CREATE DATABASE (SQL dialect 3). */

CREATE TABLE VEXA_KWV_CONFIG (
  TABLENAME VARCHAR(31) NOT NULL PRIMARY KEY,
  TABLEID   INTEGER NOT NULL UNIQUE CHECK (TABLEID BETWEEN 1 AND 255)
);

INSERT INTO VEXA_KWV_CONFIG (TABLENAME, TABLEID) VALUES ('DEMOTABLE', 1);

CREATE GENERATOR GEN_DEMOTABLE_STOCKID;

CREATE TABLE DEMOTABLE (
  STOCKID       INTEGER NOT NULL PRIMARY KEY,
  STOCKSYMBOL   VARCHAR(4),
  PRICE         NUMERIC(15, 2),
  NETCHANGE     NUMERIC(15, 2),
  OPENPRICE     NUMERIC(15, 2),
  HIGHPRICE     NUMERIC(15, 2),
  LOWPRICE      NUMERIC(15, 2),
  TICK          CHAR(1),
  VOLUME        INTEGER,
  LASTTRADETIME TIMESTAMP DEFAULT CURRENT_TIMESTAMP
);

SET TERM ^ ;

/* The database gives every new row its key. */
CREATE TRIGGER DEMOTABLE_BI FOR DEMOTABLE ACTIVE BEFORE INSERT POSITION 0 AS
BEGIN
  IF (NEW.STOCKID IS NULL) THEN
    NEW.STOCKID = GEN_ID(GEN_DEMOTABLE_STOCKID, 1);
END^

SET TERM ; ^

/* Changes are reported when the engine commits them. The change triggers
   record each change of a watched table in VEXA_PENDING, which holds the rows
   of the recording transaction alone and forgets them with it: a rolled-back
   transaction, or a statement or savepoint undone, takes its rows along. At
   commit the last commit trigger hands the transaction's rows, in order, to
   the UDR module "vexa_notify", which reports them to the notify server as
   one transaction of its own. */
CREATE GLOBAL TEMPORARY TABLE VEXA_PENDING (
  SEQ      BIGINT NOT NULL,
  TABLEID  INTEGER NOT NULL,
  KEYVALUE INTEGER,
  CODE     CHAR(1) NOT NULL
) ON COMMIT DELETE ROWS;

CREATE SEQUENCE VEXA_PENDING_SEQ;

SET TERM ^ ;

/* One change of a watched table, reported if and when its transaction
   commits. The change triggers call it. */
CREATE PROCEDURE VEXA_NOTIFY (TABLEID INTEGER, KEYVALUE INTEGER, CODE CHAR(1)) AS
  DECLARE DONE INTEGER;
BEGIN
  IF (TABLEID IS NOT NULL AND CODE IS NOT NULL) THEN
  BEGIN
    INSERT INTO VEXA_PENDING (SEQ, TABLEID, KEYVALUE, CODE)
      VALUES (NEXT VALUE FOR VEXA_PENDING_SEQ, :TABLEID, :KEYVALUE, :CODE);
    DONE = RDB$SET_CONTEXT('USER_TRANSACTION', 'VEXA_PENDING', 1);
  END
END^

/* Writers that bracket their statements keep working: every committed change
   is reported at its commit, whether or not they call these, so the three
   report nothing and open no transaction at the server (TRANSID 0). */
CREATE PROCEDURE BEGINNOTIFYTRANS (TABLEID INTEGER) RETURNS (TRANSID INTEGER) AS
BEGIN
  TRANSID = 0;
END^

CREATE PROCEDURE ENDNOTIFYTRANS (TABLEID INTEGER, TRANSID INTEGER) AS
BEGIN
END^

CREATE PROCEDURE CANCELNOTIFYTRANS (TABLEID INTEGER, TRANSID INTEGER) AS
BEGIN
END^

SET TERM ; ^

CREATE PROCEDURE VEXA_REPORT_PENDING
  EXTERNAL NAME 'vexa_notify!report_commit' ENGINE UDR;

SET TERM ^ ;

/* Last of the commit triggers, so that changes the others make are in. */
CREATE TRIGGER VEXA_REPORT_COMMIT ACTIVE ON TRANSACTION COMMIT POSITION 32000 AS
  DECLARE DONE INTEGER;
BEGIN
  IF (RDB$GET_CONTEXT('USER_TRANSACTION', 'VEXA_PENDING') IS NOT NULL) THEN
  BEGIN
    EXECUTE PROCEDURE VEXA_REPORT_PENDING;
    /* A commit that retains its context keeps nothing for the next one. */
    DELETE FROM VEXA_PENDING;
    DONE = RDB$SET_CONTEXT('USER_TRANSACTION', 'VEXA_PENDING', NULL);
  END
END^

SET TERM ; ^

/* Any user the database lets change a watched table may have the change
   recorded: the triggers read the table ids, record and report. */
GRANT SELECT ON VEXA_KWV_CONFIG TO PUBLIC;
GRANT USAGE ON SEQUENCE GEN_DEMOTABLE_STOCKID TO PUBLIC;
GRANT ALL ON VEXA_PENDING TO PUBLIC;
GRANT USAGE ON SEQUENCE VEXA_PENDING_SEQ TO PUBLIC;
GRANT EXECUTE ON PROCEDURE VEXA_NOTIFY TO PUBLIC;
GRANT EXECUTE ON PROCEDURE BEGINNOTIFYTRANS TO PUBLIC;
GRANT EXECUTE ON PROCEDURE ENDNOTIFYTRANS TO PUBLIC;
GRANT EXECUTE ON PROCEDURE CANCELNOTIFYTRANS TO PUBLIC;
GRANT EXECUTE ON PROCEDURE VEXA_REPORT_PENDING TO PUBLIC;

COMMIT;
