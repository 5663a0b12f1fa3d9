// Pipe handle calls, overlapped results and security descriptors.
#include "pal/pipes.h"

#include "pal/codepage.h"
#include "pipes/pipes_handle.h"

namespace pal::pipes {

std::shared_ptr<PipeEnd> pipeEndOf(HANDLE handle)
{
    auto pipe = lookup<PipeHandle>(handle);
    return pipe ? pipe->end() : nullptr;
}

BOOL finishCall(DWORD error)
{
    SetLastError(error);
    return error == ERROR_SUCCESS;
}

std::u16string wideName(LPCSTR name)
{
    int length = MultiByteToWideChar(CP_ACP, 0, name, -1, nullptr, 0);
    std::u16string wide(length > 0 ? static_cast<size_t>(length) : 1, u'\0');
    MultiByteToWideChar(CP_ACP, 0, name, -1, wide.data(), length);
    wide.resize(wide.size() - 1);
    return wide;
}

} // namespace pal::pipes

namespace {

using namespace pal::pipes;

bool pending(const OVERLAPPED* overlapped)
{
    return __atomic_load_n(&overlapped->Internal, __ATOMIC_ACQUIRE) == static_cast<ULONG_PTR>(ERROR_IO_PENDING);
}

SECURITY_DESCRIPTOR* descriptorOf(PSECURITY_DESCRIPTOR descriptor)
{
    return static_cast<SECURITY_DESCRIPTOR*>(descriptor);
}

// Files finish their I/O inside the call, so nothing of theirs is ever pending.
BOOL cancel(HANDLE hFile, LPOVERLAPPED lpOverlapped, bool reportNone)
{
    auto end = pipeEndOf(hFile);
    if (!end && !pal::lookup<pal::Stream>(hFile))
        return finishCall(ERROR_INVALID_HANDLE);
    size_t cancelled = end ? end->cancel(lpOverlapped) : 0;
    return finishCall(cancelled == 0 && reportNone ? ERROR_NOT_FOUND : ERROR_SUCCESS);
}

} // namespace

extern "C" {

BOOL SetNamedPipeHandleState(HANDLE hNamedPipe, LPDWORD lpMode, LPDWORD, LPDWORD)
{
    auto end = pipeEndOf(hNamedPipe);
    if (!end)
        return finishCall(ERROR_INVALID_HANDLE);
    return finishCall(lpMode ? end->setMode(*lpMode) : ERROR_SUCCESS);
}

BOOL TransactNamedPipe(HANDLE hNamedPipe, LPVOID lpInBuffer, DWORD nInBufferSize, LPVOID lpOutBuffer,
                       DWORD nOutBufferSize, LPDWORD lpBytesRead, LPOVERLAPPED lpOverlapped)
{
    auto end = pipeEndOf(hNamedPipe);
    if (!end)
        return finishCall(ERROR_INVALID_HANDLE);
    if ((!lpBytesRead && !lpOverlapped) || (!lpInBuffer && nInBufferSize) || (!lpOutBuffer && nOutBufferSize))
        return finishCall(ERROR_INVALID_PARAMETER);
    DWORD done = 0;
    DWORD error = end->transact(lpInBuffer, nInBufferSize, lpOutBuffer, nOutBufferSize, done, lpOverlapped, kNever);
    if (lpBytesRead)
        *lpBytesRead = done;
    return finishCall(error);
}

BOOL PeekNamedPipe(HANDLE hNamedPipe, LPVOID lpBuffer, DWORD nBufferSize, LPDWORD lpBytesRead,
                   LPDWORD lpTotalBytesAvail, LPDWORD lpBytesLeftThisMessage)
{
    auto end = pipeEndOf(hNamedPipe);
    if (!end)
        return finishCall(ERROR_INVALID_HANDLE);
    DWORD done = 0, available = 0, left = 0;
    DWORD error = end->peek(lpBuffer, lpBuffer ? nBufferSize : 0, done, available, left);
    if (lpBytesRead)
        *lpBytesRead = done;
    if (lpTotalBytesAvail)
        *lpTotalBytesAvail = available;
    if (lpBytesLeftThisMessage)
        *lpBytesLeftThisMessage = left;
    return finishCall(error);
}

BOOL GetOverlappedResult(HANDLE hFile, LPOVERLAPPED lpOverlapped, LPDWORD lpNumberOfBytesTransferred, BOOL bWait)
{
    if (!lpOverlapped)
        return finishCall(ERROR_INVALID_PARAMETER);
    if (pending(lpOverlapped) && !bWait)
        return finishCall(ERROR_IO_INCOMPLETE);
    HANDLE waitOn = eventOf(lpOverlapped) ? eventOf(lpOverlapped) : hFile;
    while (pending(lpOverlapped))
        if (WaitForSingleObject(waitOn, INFINITE) == WAIT_FAILED)
            return FALSE;
    if (lpNumberOfBytesTransferred)
        *lpNumberOfBytesTransferred = static_cast<DWORD>(lpOverlapped->InternalHigh);
    return finishCall(static_cast<DWORD>(lpOverlapped->Internal));
}

BOOL CancelIo(HANDLE hFile)
{
    return cancel(hFile, nullptr, false);
}

BOOL CancelIoEx(HANDLE hFile, LPOVERLAPPED lpOverlapped)
{
    return cancel(hFile, lpOverlapped, true);
}

BOOL InitializeSecurityDescriptor(PSECURITY_DESCRIPTOR pSecurityDescriptor, DWORD dwRevision)
{
    if (!pSecurityDescriptor)
        return finishCall(ERROR_INVALID_PARAMETER);
    if (dwRevision != SECURITY_DESCRIPTOR_REVISION)
        return finishCall(ERROR_UNKNOWN_REVISION);
    *descriptorOf(pSecurityDescriptor) = SECURITY_DESCRIPTOR{};
    descriptorOf(pSecurityDescriptor)->Revision = SECURITY_DESCRIPTOR_REVISION;
    return finishCall(ERROR_SUCCESS);
}

BOOL SetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR pSecurityDescriptor, BOOL bDaclPresent, PACL pDacl,
                               BOOL bDaclDefaulted)
{
    if (!pSecurityDescriptor)
        return finishCall(ERROR_INVALID_PARAMETER);
    SECURITY_DESCRIPTOR* descriptor = descriptorOf(pSecurityDescriptor);
    if (descriptor->Revision != SECURITY_DESCRIPTOR_REVISION)
        return finishCall(ERROR_INVALID_SECURITY_DESCR);
    descriptor->Control &= static_cast<SECURITY_DESCRIPTOR_CONTROL>(~(SE_DACL_PRESENT | SE_DACL_DEFAULTED));
    if (bDaclPresent)
        descriptor->Control |= SE_DACL_PRESENT | (bDaclDefaulted ? SE_DACL_DEFAULTED : 0);
    descriptor->Dacl = bDaclPresent ? pDacl : nullptr;
    return finishCall(ERROR_SUCCESS);
}

} // extern "C"
