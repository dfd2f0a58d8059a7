// The two ends of the printer stream: the PJL job header (cancel prefix, zero
// run, header block switching the printer to VLGDI) and the job trailer.
#ifndef QUORIN_PJL_JOB_H
#define QUORIN_PJL_JOB_H

#include <ctime>
#include <cups/raster.h>

#include "printer_stream.h"
#include "velorin.h"

#define PJL_HOSTNAME_SIZE 64

extern const char DrvCancelStr[];
extern const char UELStr[];
extern const char EndOfJobStr[];

// Builders: fill block (PJL_BLOCK_SIZE bytes) with the NUL-terminated header
// block and return its length. Text values are cleaned (control bytes and
// 0x7F become blanks) and cut where needed so that every line stays within
// 255 characters and the block within 1023, keeping all fixed lines. The
// time and tick are passed in so the bytes are reproducible.
int PJL_BuildStartJobBlock_Quorin(const cups_page_header2_t* inheader, const char* PrinterName,
                                  const char* UserName, const char* DocName, const char* HostName,
                                  const char* argvCopies, BOOL bDriverDoCollate, const struct tm* now,
                                  DWORD tick, char* block);

// The block of the alternative writer: JOBNAME="user:title" instead of the
// COMMENT lines; double quotes in the two values become blanks as well.
int PJL_BuildStartJobBlock(const cups_page_header2_t* inheader, const char* szUserName,
                           const char* szDocName, BOOL bDriverDoCollate, DWORD tick, char* block);

// Fills buf (PJL_BLOCK_SIZE bytes) with the 70-byte trailer; returns 70.
int PJL_BuildCloseJobBlock(char* buf);

// The machine's host name, at most PJL_HOSTNAME_SIZE - 1 characters, always
// NUL-terminated; empty when none is known.
void PJL_GetHostName(char hostName[PJL_HOSTNAME_SIZE]);

// Writers: the job header once, before the first page; the trailer once,
// after the last page record. FALSE when standard output refused the bytes.
BOOL PJL_WriteStartJobCmd_Quorin(cups_page_header2_t* inheader, int numUP, char* PrinterName,
                                 char* UserName, char* DocName, char* argvCopies, BOOL bDriverDoCollate);
BOOL PJL_WriteStartJobCmd(cups_page_header2_t* inheader, int numUP, char* szUserName, char* szDocName,
                          char* szJsonFile, BOOL bDriverDoCollate);
BOOL PJL_WriteCloseJobCmd(cups_page_header2_t* inheader);

// The COPIES= value: how many times the printer prints each side it gets.
DWORD PrinterCopies(const cups_page_header2_t* h, const char* argvCopies, BOOL bDriverDoCollate);

#endif
