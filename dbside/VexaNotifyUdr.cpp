// The UDR module of the demo database (external engine "udr", module name
// "vexa_notify"). The notify procedures and the change triggers of DEMOTABLE
// call it; it reports to the notify server through TDbNotifier.
//
//   begin_trans  (TABLEID) -> (TRANSID)    "DBTrans" 'B', TRANSID the server's id (0 without one)
//   end_trans    (TABLEID, TRANSID)        "DBTrans" 'E'
//   cancel_trans (TABLEID, TRANSID)        "DBTrans" 'R'
//   notify       (TABLEID, KEYVALUE, CODE) "DBNotification", CODE 'I', 'C' or 'D'
//
// A null table id sends nothing.
#define FB_UDR_STATUS_TYPE ::Firebird::ThrowStatusWrapper
#include <firebird/UdrCppEngine.h>

#include "dbside/DbNotifier.h"

FB_UDR_BEGIN_PROCEDURE(begin_trans)
  FB_UDR_MESSAGE(InMessage, (FB_INTEGER, tableId));
  FB_UDR_MESSAGE(OutMessage, (FB_INTEGER, transId));

  FB_UDR_EXECUTE_PROCEDURE {
    (void)status;
    out->transIdNull = FB_FALSE;
    out->transId = in->tableIdNull ? 0 : vexa::TDbNotifier::Instance().BeginTrans(in->tableId);
  }

  FB_UDR_FETCH_PROCEDURE {
    (void)status;
    if (fetched) return false;
    fetched = true;
    return true;
  }

  bool fetched = false;
FB_UDR_END_PROCEDURE

FB_UDR_BEGIN_PROCEDURE(end_trans)
  FB_UDR_MESSAGE(InMessage, (FB_INTEGER, tableId)(FB_INTEGER, transId));

  FB_UDR_EXECUTE_PROCEDURE {
    (void)status;
    (void)out;
    if (!in->tableIdNull)
      vexa::TDbNotifier::Instance().EndTrans(in->tableId, in->transIdNull ? 0 : in->transId);
  }

  FB_UDR_FETCH_PROCEDURE {
    (void)status;
    return false;
  }
FB_UDR_END_PROCEDURE

FB_UDR_BEGIN_PROCEDURE(cancel_trans)
  FB_UDR_MESSAGE(InMessage, (FB_INTEGER, tableId)(FB_INTEGER, transId));

  FB_UDR_EXECUTE_PROCEDURE {
    (void)status;
    (void)out;
    if (!in->tableIdNull)
      vexa::TDbNotifier::Instance().CancelTrans(in->tableId, in->transIdNull ? 0 : in->transId);
  }

  FB_UDR_FETCH_PROCEDURE {
    (void)status;
    return false;
  }
FB_UDR_END_PROCEDURE

FB_UDR_BEGIN_PROCEDURE(notify)
  FB_UDR_MESSAGE(InMessage, (FB_INTEGER, tableId)(FB_INTEGER, keyValue)(FB_CHAR(1), code));

  FB_UDR_EXECUTE_PROCEDURE {
    (void)status;
    (void)out;
    if (!in->tableIdNull && !in->codeNull)
      vexa::TDbNotifier::Instance().Notify(in->tableId, in->keyValueNull ? 0 : in->keyValue,
                                           in->code.str[0]);
  }

  FB_UDR_FETCH_PROCEDURE {
    (void)status;
    return false;
  }
FB_UDR_END_PROCEDURE

FB_UDR_IMPLEMENT_ENTRY_POINT
