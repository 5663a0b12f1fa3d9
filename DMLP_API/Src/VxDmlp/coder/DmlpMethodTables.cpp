// The method, event and ExecuteMethod-code tables. Request-body encoders, reply-body decoders,
// event-body codecs and ExecuteMethod parameter codecs take their slots here; an empty slot
// makes the coder answer as for an unknown method (9).
#include "DmlpCoder.h"

const DmlpMethodRow DmlpMethodTable[] = {
    {1, 0, nullptr, nullptr},   // Echo
    {2, 0, nullptr, nullptr},   // Reserve
    {3, 0, nullptr, nullptr},   // Set
    {4, 0, nullptr, nullptr},   // Get
    {5, 0, nullptr, nullptr},   // List
    {6, 0, nullptr, nullptr},   // ListAttributes
    {7, 0, nullptr, nullptr},   // ListObjects
    {8, 0, nullptr, nullptr},   // AppendToList
    {9, 0, nullptr, nullptr},   // DeleteFromList
    {10, 0, nullptr, nullptr},  // event notification
    {11, 0, nullptr, nullptr},  // Delete
    {12, 0, nullptr, nullptr},  // AddUser
    {13, 0, nullptr, nullptr},  // DeleteUser
    {14, 0, nullptr, nullptr},  // ChangeUserPassword
    {15, 0, nullptr, nullptr},  // SetDateTime
    {16, 0, nullptr, nullptr},  // GetDateTime
    {17, 0, nullptr, nullptr},  // JobStart
    {18, 0, nullptr, nullptr},  // SetJob
    {19, 0, nullptr, nullptr},  // JobEnd
    {20, 0, nullptr, nullptr},  // BinderStart
    {21, 0, nullptr, nullptr},  // SetBinder
    {22, 0, nullptr, nullptr},  // BinderEnd
    {23, 0, nullptr, nullptr},  // DocumentStart
    {24, 0, nullptr, nullptr},  // SetDocument
    {25, 0, nullptr, nullptr},  // DocumentEnd
    {26, 0, nullptr, nullptr},  // Send
    {27, 0, nullptr, nullptr},  // SendRequest
    {28, 0, nullptr, nullptr},  // Trigger
    {29, 0, nullptr, nullptr},  // ExecuteMethod
    {31, 0, nullptr, nullptr},  // CancelJob
    {32, 0, nullptr, nullptr},  // PauseJob
    {33, 0, nullptr, nullptr},  // ResumeJob
    {34, 0, nullptr, nullptr},  // PromoteJob
    {35, 0, nullptr, nullptr},  // InterruptJob
    {36, 0, nullptr, nullptr},  // Interact
    {37, 0, nullptr, nullptr},  // Continue
    {38, 0, nullptr, nullptr},  // Enable
    {39, 0, nullptr, nullptr},  // Disable
    {40, 0, nullptr, nullptr},  // Awake
    {41, 0, nullptr, nullptr},  // Sleep
    {42, 0, nullptr, nullptr},  // Reset
    {43, 0, nullptr, nullptr},  // Shutdown
    {44, 0, nullptr, nullptr},  // MoveFile
    {46, 0, nullptr, nullptr},  // ResourceStart
    {48, 0, nullptr, nullptr},  // ResourceModify
    {49, 0, nullptr, nullptr},  // AcquireResource
    {50, 0, nullptr, nullptr},  // SetResource
    {51, 0, nullptr, nullptr},  // ResourceEnd
    {53, 0, nullptr, nullptr},  // ListObjectAttributes
    {54, 0, nullptr, nullptr},  // SetEx
    {55, 0, nullptr, nullptr},  // GetEx
    {56, 0, nullptr, nullptr},  // ListEx
    {57, 0, nullptr, nullptr},  // AppendToListEx
    {58, 0, nullptr, nullptr},  // DeleteFromListEx
    {59, 0, nullptr, nullptr},  // SetByUser
    {60, 0, nullptr, nullptr},  // GetByUser
    {63, 0, nullptr, nullptr},  // Unreserve
    {64, 0, nullptr, nullptr},  // ResumeJobWithPassword
    {68, 0, nullptr, nullptr},  // ExecuteFile
    {69, 0, nullptr, nullptr},  // ListFiles
    {70, 0, nullptr, nullptr},  // CheckFileBoxPassword
    {71, 0, nullptr, nullptr},  // ChangeFileBoxPassword
    {72, 0, nullptr, nullptr},  // CopyFile
    {73, 0, nullptr, nullptr},  // CreateFile
    {74, 0, nullptr, nullptr},  // DeleteFile
    {76, 0, nullptr, nullptr},  // FileStart
    {77, 0, nullptr, nullptr},  // AcquireRecords
    {78, 0, nullptr, nullptr},  // MaintainOn
    {79, 0, nullptr, nullptr},  // MaintainOff
    {80, 0, nullptr, nullptr},  // CheckUserPassword
    {81, 0, nullptr, nullptr},  // InitializeRecord
    {82, 0, nullptr, nullptr},  // ListJobs
    {83, 0, nullptr, nullptr},  // ListJobAttributes
    {84, 0, nullptr, nullptr},  // ListHandleAttributes
    {85, 0, nullptr, nullptr},  // KeepAlive
    {86, 0, nullptr, nullptr},  // SetToFileBox
    {87, 0, nullptr, nullptr},  // GetFromFileBox
    {88, 0, nullptr, nullptr},  // ListSubPages
    {92, 0, nullptr, nullptr},  // FileModify
    {93, 0, nullptr, nullptr},  // CopyFiles
    {94, 0, nullptr, nullptr},  // MoveFiles
    {95, 0, nullptr, nullptr},  // DeleteFiles
    {96, 0, nullptr, nullptr},  // ReplaceFile
    {97, 0, nullptr, nullptr},  // ReplaceFiles
    {102, 0, nullptr, nullptr}, // Get2
    {103, 0, nullptr, nullptr}, // GetListElement
    {105, 0, nullptr, nullptr}, // Set2
    {106, 0, nullptr, nullptr}, // SetListElement
    {107, 0, nullptr, nullptr}, // JobStart2
    {109, 0, nullptr, nullptr}, // TraceJob
    {110, 0, nullptr, nullptr}, // AcquireRecords2
    {111, 0, nullptr, nullptr}, // ResourceStart2
    {112, 0, nullptr, nullptr}, // ExecuteFile2
    {114, 0, nullptr, nullptr}, // ListObjects2
    {0, 0, nullptr, nullptr},
};

const DmlpEventRow DmlpEventTable[] = {
    {2, 0, nullptr, nullptr},
    {3, 0, nullptr, nullptr},
    {4, 0, nullptr, nullptr},
    {5, 0, nullptr, nullptr},
    {11, 0, nullptr, nullptr},
    {14, 0, nullptr, nullptr},
    {15, 0, nullptr, nullptr},
    {16, 0, nullptr, nullptr},
    {17, 0, nullptr, nullptr},
    {18, 0, nullptr, nullptr},
    {19, 0, nullptr, nullptr},
    {20, 0, nullptr, nullptr},
    {24, 0, nullptr, nullptr},
    {26, 0, nullptr, nullptr},
    {40, 0, nullptr, nullptr},
    {45, 0, nullptr, nullptr},
    {48, 0, nullptr, nullptr},
    {53, 0, nullptr, nullptr},
    {54, 0, nullptr, nullptr},
    {55, 0, nullptr, nullptr},
    {56, 0, nullptr, nullptr},
    {57, 0, nullptr, nullptr},
    {58, 0, nullptr, nullptr},
    {60, 0, nullptr, nullptr},
    {63, 0, nullptr, nullptr},
    {64, 0, nullptr, nullptr},
    {65, 0, nullptr, nullptr},
    {66, 0, nullptr, nullptr},
    {67, 0, nullptr, nullptr},
    {68, 0, nullptr, nullptr},
    {69, 0, nullptr, nullptr},
    {70, 0, nullptr, nullptr},
    {71, 0, nullptr, nullptr},
    {72, 0, nullptr, nullptr},
    {73, 0, nullptr, nullptr},
    {74, 0, nullptr, nullptr},
    {82, 0, nullptr, nullptr},
    {83, 0, nullptr, nullptr},
    {84, 0, nullptr, nullptr},
    {85, 0, nullptr, nullptr},
    {86, 0, nullptr, nullptr},
    {87, 0, nullptr, nullptr},
    {88, 0, nullptr, nullptr},
    {89, 0, nullptr, nullptr},
    {90, 0, nullptr, nullptr},
    {91, 0, nullptr, nullptr},
    {94, 0, nullptr, nullptr},
    {106, 0, nullptr, nullptr},
    {113, 0, nullptr, nullptr},
    {120, 0, nullptr, nullptr},
    {122, 0, nullptr, nullptr},
    {125, 0, nullptr, nullptr},
    {129, 0, nullptr, nullptr},
    {130, 0, nullptr, nullptr},
    {152, 0, nullptr, nullptr},
    {153, 0, nullptr, nullptr},
    {154, 0, nullptr, nullptr},
    {155, 0, nullptr, nullptr},
    {158, 0, nullptr, nullptr},
    {217, 0, nullptr, nullptr},
    {218, 0, nullptr, nullptr},
    {219, 0, nullptr, nullptr},
    {222, 0, nullptr, nullptr},
    {223, 0, nullptr, nullptr},
    {225, 0, nullptr, nullptr},
    {0, 0, nullptr, nullptr},
};

const DmlpExecCodeRow DmlpExecCodeTable[] = {
    {11, 0, nullptr, nullptr, nullptr, nullptr},
    {12, 0, nullptr, nullptr, nullptr, nullptr},
    {13, 0, nullptr, nullptr, nullptr, nullptr},
    {14, 0, nullptr, nullptr, nullptr, nullptr},
    {101, 0, nullptr, nullptr, nullptr, nullptr},
    {102, 0, nullptr, nullptr, nullptr, nullptr},
    {103, 0, nullptr, nullptr, nullptr, nullptr},
    {104, 0, nullptr, nullptr, nullptr, nullptr},
    {105, 0, nullptr, nullptr, nullptr, nullptr},
    {106, 0, nullptr, nullptr, nullptr, nullptr},
    {107, 0, nullptr, nullptr, nullptr, nullptr},
    {108, 0, nullptr, nullptr, nullptr, nullptr},
    {109, 0, nullptr, nullptr, nullptr, nullptr},
    {110, 0, nullptr, nullptr, nullptr, nullptr},
    {111, 0, nullptr, nullptr, nullptr, nullptr},
    {112, 0, nullptr, nullptr, nullptr, nullptr},
    {114, 0, nullptr, nullptr, nullptr, nullptr},
    {115, 0, nullptr, nullptr, nullptr, nullptr},
    {116, 0, nullptr, nullptr, nullptr, nullptr},
    {117, 0, nullptr, nullptr, nullptr, nullptr},
    {118, 0, nullptr, nullptr, nullptr, nullptr},
    {119, 0, nullptr, nullptr, nullptr, nullptr},
    {124, 0, nullptr, nullptr, nullptr, nullptr},
    {125, 0, nullptr, nullptr, nullptr, nullptr},
    {126, 0, nullptr, nullptr, nullptr, nullptr},
    {127, 0, nullptr, nullptr, nullptr, nullptr},
    {130, 0, nullptr, nullptr, nullptr, nullptr},
    {131, 0, nullptr, nullptr, nullptr, nullptr},
    {132, 0, nullptr, nullptr, nullptr, nullptr},
    {133, 0, nullptr, nullptr, nullptr, nullptr},
    {135, 0, nullptr, nullptr, nullptr, nullptr},
    {136, 0, nullptr, nullptr, nullptr, nullptr},
    {137, 0, nullptr, nullptr, nullptr, nullptr},
    {138, 0, nullptr, nullptr, nullptr, nullptr},
    {146, 0, nullptr, nullptr, nullptr, nullptr},
    {0, 0, nullptr, nullptr, nullptr, nullptr},
};

// Codes above 8191: the caller's bytes out, every byte left in the reply back.
const DmlpExecCodeRow DmlpExecCodeDefault = {0, 0, nullptr, nullptr, nullptr, nullptr};
