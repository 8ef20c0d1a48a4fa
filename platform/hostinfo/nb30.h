// NetBIOS, Netbios, with the Windows control block, buffers, commands and return codes. On Linux
// only the adapter queries are served: NCBENUM, NCBRESET and NCBASTAT on the local adapters
// (see NetbiosAnswer.h); a test can replace the answers with THostInfoDouble.
#pragma once

#include <qx/platform/hostinfo/WinDef.h>

constexpr int NCBNAMSZ = 16;
constexpr int MAX_LANA = 254;

// Commands (NCB::ncb_command).
constexpr UCHAR NCBCALL = 0x10;
constexpr UCHAR NCBLISTEN = 0x11;
constexpr UCHAR NCBHANGUP = 0x12;
constexpr UCHAR NCBSEND = 0x14;
constexpr UCHAR NCBRECV = 0x15;
constexpr UCHAR NCBDGSEND = 0x20;
constexpr UCHAR NCBDGRECV = 0x21;
constexpr UCHAR NCBADDNAME = 0x30;
constexpr UCHAR NCBDELNAME = 0x31;
constexpr UCHAR NCBRESET = 0x32;
constexpr UCHAR NCBASTAT = 0x33;
constexpr UCHAR NCBSSTAT = 0x34;
constexpr UCHAR NCBCANCEL = 0x35;
constexpr UCHAR NCBADDGRNAME = 0x36;
constexpr UCHAR NCBENUM = 0x37;
constexpr UCHAR NCBFINDNAME = 0x78;
constexpr UCHAR ASYNCH = 0x80;

// Return codes (NCB::ncb_retcode and the result of Netbios).
constexpr UCHAR NRC_GOODRET = 0x00;
constexpr UCHAR NRC_BUFLEN = 0x01;
constexpr UCHAR NRC_ILLCMD = 0x03;
constexpr UCHAR NRC_CMDTMO = 0x05;
constexpr UCHAR NRC_INCOMP = 0x06;
constexpr UCHAR NRC_BADDR = 0x07;
constexpr UCHAR NRC_NOCALL = 0x14;
constexpr UCHAR NRC_BRIDGE = 0x23;
constexpr UCHAR NRC_ENVNOTDEF = 0x34;
constexpr UCHAR NRC_SYSTEM = 0x40;
constexpr UCHAR NRC_INVADDRESS = 0x39;
constexpr UCHAR NRC_PENDING = 0xff;

struct NCB {
  UCHAR ncb_command;
  UCHAR ncb_retcode;
  UCHAR ncb_lsn;
  UCHAR ncb_num;
  PUCHAR ncb_buffer;
  WORD ncb_length;
  UCHAR ncb_callname[NCBNAMSZ];
  UCHAR ncb_name[NCBNAMSZ];
  UCHAR ncb_rto;
  UCHAR ncb_sto;
  void (*ncb_post)(NCB*);
  UCHAR ncb_lana_num;
  UCHAR ncb_cmd_cplt;
  UCHAR ncb_reserve[sizeof(void*) == 8 ? 18 : 10];
  HANDLE ncb_event;
};
using PNCB = NCB*;

struct LANA_ENUM {
  UCHAR length;
  UCHAR lana[MAX_LANA + 1];
};
using PLANA_ENUM = LANA_ENUM*;

struct ADAPTER_STATUS {
  UCHAR adapter_address[6];
  UCHAR rev_major;
  UCHAR reserved0;
  UCHAR adapter_type;
  UCHAR rev_minor;
  WORD duration;
  WORD frmr_recv;
  WORD frmr_xmit;
  WORD iframe_recv_err;
  WORD xmit_aborts;
  DWORD xmit_success;
  DWORD recv_success;
  WORD iframe_xmit_err;
  WORD recv_buff_unavail;
  WORD t1_timeouts;
  WORD ti_timeouts;
  DWORD reserved1;
  WORD free_ncbs;
  WORD max_cfg_ncbs;
  WORD max_ncbs;
  WORD xmit_buf_unavail;
  WORD max_dgram_size;
  WORD pending_sess;
  WORD max_cfg_sess;
  WORD max_sess;
  WORD max_sess_pkt_size;
  WORD name_count;
};
using PADAPTER_STATUS = ADAPTER_STATUS*;

struct NAME_BUFFER {
  UCHAR name[NCBNAMSZ];
  UCHAR name_num;
  UCHAR name_flags;
};

static_assert(sizeof(LANA_ENUM) == 256);
static_assert(sizeof(ADAPTER_STATUS) == 60);
// 64 bytes with 4-byte pointers, 96 with 8-byte ones: the two Windows layouts.
static_assert(sizeof(NCB) == (sizeof(void*) == 8 ? 96 : 64));

// Carries out ncb->ncb_command synchronously; stores the result in ncb_retcode and ncb_cmd_cplt
// and returns it. NCBENUM lists one LANA number per local adapter with an IPv4 address and a
// hardware address (in the adapter table's order, loopback left out); NCBRESET accepts any listed
// LANA; NCBASTAT with ncb_callname "*" gives the ADAPTER_STATUS of a listed LANA, its first six
// bytes the hardware address, and no names. A LANA that is not listed gives NRC_BRIDGE with the
// buffer untouched; a buffer shorter than the answer receives the first part and NRC_INCOMP;
// ncb_length is set to the bytes written. Other commands and ASYNCH requests give NRC_ILLCMD; a
// null ncb NRC_INVADDRESS.
UCHAR Netbios(PNCB ncb);
