// The request exports (generated from the export table), their common front end, the stubs, the
// memory exports and the ordinal table.
#include <string.h>

#include "DmlpEngine.h"

namespace {

// Checks, encodes and posts one request.
DmlpStatus RequestFrontEnd(uint8_t requestClass, uint16_t method, uint8_t mode, const DmlpCallback* callback,
                           DmlpBinding binding, const uint32_t objectRef[2], const void* params, void* result)
{
    if ((mode != DMLP_MODE_SYNC && mode != DMLP_MODE_ASYNC) || objectRef == nullptr || params == nullptr ||
        (mode == DMLP_MODE_SYNC && result == nullptr))
        return DMLP_BAD_PARAMETER;
    if (!DmlpRunning())
        return DMLP_NOT_AVAILABLE;
    DmlpHeader header = {};
    header.magic = DMLP_HEADER_MAGIC;
    header.version = DMLP_HEADER_VERSION;
    header.method = method;
    header.objectRef0 = objectRef[0];
    header.objectRef1 = objectRef[1];
    DmlpCursor frame = {nullptr, 0};
    if (DmlpEncodeMessage(&header, params, &frame) != DMLP_CODER_OK) {
        DmlpFree(frame.ptr);
        return DMLP_INTERNAL_FAILURE;
    }
    const DmlpSendParams* send = (const DmlpSendParams*)params;
    const bool raw = method == 26 && send->kind == 1;
    DmlpStatus status;
    DmlpMessage* message = DmlpNewCallerMessage(raw ? DMLP_MSG_RAW_SEND : DMLP_MSG_REQUEST, mode,
                                                DmlpHandleOf(binding), callback, &status);
    if (message == nullptr) {
        DmlpFree(frame.ptr);
        return status;
    }
    message->u.request.method = method;
    message->u.request.requestClass = requestClass;
    message->u.request.result = mode == DMLP_MODE_SYNC ? result : nullptr;
    message->u.request.frame = frame.ptr;
    message->u.request.frameLength = (uint32_t)frame.count;
    if (raw) {
        message->u.request.data = (const uint8_t*)send->data;
        message->u.request.dataLength = send->length;
    }
    return DmlpPostToWorker(message);
}

} // namespace

#define DMLP_DEFINE_REQUEST_EXPORT(name, ordinal, cls, method, size)                                        \
    DmlpStatus DMLP_##name(uint8_t mode, const DmlpCallback* callback, DmlpBinding binding,                   \
                           const uint32_t objectRef[2], const void* params, void* result)                     \
    {                                                                                                         \
        if (result != nullptr && mode == DMLP_MODE_SYNC)                                                      \
            memset(result, 0, size);                                                                          \
        return RequestFrontEnd(cls, method, mode, callback, binding, objectRef, params, result);              \
    }
DMLP_REQUEST_EXPORTS(DMLP_DEFINE_REQUEST_EXPORT)
#undef DMLP_DEFINE_REQUEST_EXPORT

#define DMLP_DEFINE_STUB_EXPORT(name, ordinal) \
    DmlpStatus DMLP_##name(void) { return DMLP_NOT_SUPPORTED; }
DMLP_STUB_EXPORTS(DMLP_DEFINE_STUB_EXPORT)
#undef DMLP_DEFINE_STUB_EXPORT

// ---- Memory ---------------------------------------------------------------------------------------------

DmlpStatus DMLP_AllocMemory(uint32_t size, DmlpBuffer* buffer)
{
    // Sizes are 16-bit; a larger one is refused rather than cut.
    if (size == 0 || size > DMLP_SIZE_MAX || buffer == nullptr)
        return DMLP_BAD_PARAMETER;
    void* block = DmlpAlloc(size);
    if (block == nullptr)
        return DMLP_OUT_OF_MEMORY;
    buffer->data = block;
    buffer->size = (uint16_t)size;
    buffer->flags = DMLP_BUFFER_VALID | DMLP_BUFFER_LIBRARY;
    buffer->unused = 0;
    buffer->reserved = 0;
    return DMLP_SUCCESS;
}

DmlpStatus DMLP_FreeMemory(DmlpBuffer* buffer)
{
    if (buffer == nullptr || (buffer->flags & DMLP_BUFFER_LIBRARY) == 0)
        return DMLP_BAD_PARAMETER;
    if (buffer->data != nullptr && buffer->size != 0)
        DmlpFree(buffer->data);
    return DMLP_SUCCESS;
}

DmlpStatus DMLP_ReleaseParam(void* param)
{
    if (param == nullptr)
        return DMLP_BAD_PARAMETER;
    DmlpParamBlock* block = (DmlpParamBlock*)((uint8_t*)param - offsetof(DmlpParamBlock, handedOut));
    if (memcmp(block->tag, DMLP_PARAM_TAG, 4) != 0)
        return DMLP_BAD_PARAMETER;
    // The tag goes first, so that a second release is refused.
    DmlpFreeParamBlock(block);
    return DMLP_SUCCESS;
}
