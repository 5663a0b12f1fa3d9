// Internals of LPR sending (RFC 1179): the texts, the connection and its retry rules, the
// byte-count transfer and the streaming transfer.
#pragma once

#include "jtrkmon.h"

#define LPR_SERVER_PORT 515
#define LPR_FIRST_LOCAL_PORT 721
#define LPR_LAST_LOCAL_PORT 731
#define LPR_EVENT_MASK (FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE)
#define LPR_BUSY_CONNECT_SLEEP_MS 5000
#define WSA_SELECTTIMEOUT 10068  // a wait that ran out: no real error for a command

// Results of the retry rules (LprError, LprErrorCmd, LprRetryDecision) and of the streaming steps.
#define LPR_ERR_CANCEL 1  // job deleting, or printer pending deletion
#define LPR_ERR_GO_ON 3
#define LPR_ERR_RETRY_OVER 4
#define LPR_ERR_BAD_ADDRESS 5
#define LPR_ERR_PAUSED 6

// Results of the byte-count steps.
#define LPR_STEP_DONE 0
#define LPR_STEP_AGAIN 1  // data still staged: call the step again
#define LPR_STEP_CANCEL 2
#define LPR_STEP_RETRY 3  // retry from state 1
#define LPR_STEP_RETRY_OVER 4
#define LPR_STEP_NO_ACK 5  // acknowledgement not yet had: repeat the state
#define LPR_STEP_ERROR 6  // with a Windows Sockets error
#define LPR_STEP_PAUSED 7

// States of the byte-count transfer (nLpStat).
#define LPSTAT_START 1
#define LPSTAT_PRINT_JOB 2
#define LPSTAT_PRINT_JOB_ACK 3
#define LPSTAT_CTRL_FILE_CMD 4
#define LPSTAT_CTRL_FILE_CMD_ACK 5
#define LPSTAT_CTRL_FILE 6
#define LPSTAT_CTRL_FILE_ACK 7
#define LPSTAT_DATA_FILE_CMD 8
#define LPSTAT_DATA_FILE_CMD_ACK 9
#define LPSTAT_DATA_FILE 10
#define LPSTAT_DATA_EOFSEND 11
#define LPSTAT_DATA_EOF_ACK 12
#define LPSTAT_DONE 13

// Acknowledgement codes of a refusal.
#define LPD_NO_SPOOL_SPACE 0x40000001
#define LPD_ERROR 0x40000002
#define LPD_OTHER_REFUSAL 0x40000003  // streaming mode; byte-count mode uses ERROR_ACCESS_DENIED

#define LPR_COMMAND_CHARS 256
#define LPR_COMMAND_BYTES 255
#define LPR_NAME_CHARS 32  // "cfA", three digits, the computer name
#define LPR_COMPUTER_NAME_CHARS 15
#define LPR_USER_NAME_CHARS 20
#define LPR_DOCUMENT_BYTES 100  // the document name keeps fewer bytes than this
#define LPR_SIZE_TEXT_CHARS 32
#define LPR_STREAM_BUFFER_SIZE 65536
#define LPR_FILE_CHUNK 65536
#define LPR_ACK_READ_BYTES 79
#define LPR_RETRY_ROUND_MS 2000
#define LPR_MIN_WAIT_MS 30  // a wait of 0 ms with unbounded rounds would spin

#define LPR_INI_FILE W("JTRKMON2.INI")
#define LPR_INI_SECTION W("LprSystem")
#define LPR_INI_NO_BYTE_COUNT_MAX W("NoByteCountMax")
#define LPR_DEFAULT_NO_BYTE_COUNT_MAX W("125899906843000")

// ---- Texts (lprtext.cpp)
typedef struct _LprCommand {
    char bytes[LPR_COMMAND_BYTES + 1];
    DWORD cb;
} LprCommand;

BOOL LprFileName(char chKind, DWORD dwJobId, LPCWSTR pszComputer, LPWSTR pszName, size_t cchName);
BOOL MakeReceiveJobCommand(const PortEntry* pPort, LprCommand* pCommand);
BOOL MakeControlFileCommand(const PortEntry* pPort, LPCWSTR pszComputer, LprCommand* pCommand);
BOOL MakeDataFileCommand(ULONGLONG ullSize, LPCWSTR pszSizeText, const PortEntry* pPort, LPCWSTR pszComputer,
                         LprCommand* pCommand);
void ReadNoByteCountMax(LPWSTR pszText, size_t cchText);
BOOL ReadComputerName(LPWSTR pszName, size_t cchName);
// The control file of the port's job, from the job's document and the names of this machine and user.
BOOL PrepareControlFile(PPortEntry pPort);

// ---- Connection and retry rules (lprconn.cpp)
int LprError(PPortEntry pPort, LPDWORD pdwCounter, int nError);
int LprErrorCmd(PPortEntry pPort, LPDWORD pdwCounter, int nError);
int LprRetryDecision(PPortEntry pPort);
SOCKET LpTcpOpen(PPortEntry pPort, const struct sockaddr_in* pAddress, int* pError);
BOOL LpGetServerAddress2(const PortEntry* pPort, struct sockaddr_in* pAddress);
void LprGracefulClose(PPortEntry pPort);
void LprSetSendBuffer(PPortEntry pPort);
BOOL IsPrinterGone(PPortEntry pPort);
DWORD LprJobStatus(PPortEntry pPort);
DWORD LprEventRound(const PortEntry* pPort);

// ---- Byte count (lprbytecount.cpp)
BOOL StartTrans(PPortEntry pPort, int* pStopCode, int* pError);

// ---- Streaming (lprstream.cpp)
BOOL LprStreamWrite(PPortEntry pPort, const BYTE* pData, DWORD cbData, LPDWORD pcbWritten, int* pError);
BOOL LprStreamEnd(PPortEntry pPort, int* pStopCode, int* pError);
