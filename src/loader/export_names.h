// The exported entry points of the library, in the order of the C interface, each with the
// name the export table publishes it under. MB_EXPORT(name) names a function of mbus.h;
// MB_EXPORT_AS(text, function) gives the published name and the function separately.
// clang-format off
#define MB_EXPORT_LIST(MB_EXPORT, MB_EXPORT_AS)                                                          \
    MB_EXPORT(MbHandleAddRef) MB_EXPORT(MbHandleRelease) MB_EXPORT(MbHandleLock) MB_EXPORT(MbHandleUnlock)  \
    MB_EXPORT(MbMemoryFree) MB_EXPORT_AS("MbBufferFree", MbMemoryFree)                                     \
    MB_EXPORT(MbTracerSet) MB_EXPORT(MbTracerSetEx) MB_EXPORT(MbLibraryInit) MB_EXPORT(MbLibraryTerm)       \
    MB_EXPORT(MbVersionGet)                                                                                \
    MB_EXPORT(MbAtomNewNone) MB_EXPORT(MbAtomNewBlob) MB_EXPORT(MbAtomNewBool) MB_EXPORT(MbAtomNewCookie)   \
    MB_EXPORT(MbAtomNewInt) MB_EXPORT(MbAtomNewReal) MB_EXPORT(MbAtomNewString) MB_EXPORT(MbAtomNewTime)    \
    MB_EXPORT(MbAtomNewSystemTime) MB_EXPORT(MbAtomNewUnsigned) MB_EXPORT(MbListNew) MB_EXPORT(MbMapNew)    \
    MB_EXPORT(MbAtomGetBlob) MB_EXPORT(MbAtomCopyBlob) MB_EXPORT(MbAtomDupBlob) MB_EXPORT(MbAtomGetString)  \
    MB_EXPORT(MbAtomCopyString) MB_EXPORT(MbAtomDupString) MB_EXPORT(MbAtomGetBool) MB_EXPORT(MbAtomGetInt) \
    MB_EXPORT(MbAtomGetUnsigned) MB_EXPORT(MbAtomGetReal) MB_EXPORT(MbAtomGetCookie)                       \
    MB_EXPORT(MbAtomGetTime) MB_EXPORT(MbAtomGetSystemTime) MB_EXPORT(MbItemGetType)                       \
    MB_EXPORT(MbAtomSetBlob) MB_EXPORT(MbAtomSetBool) MB_EXPORT(MbAtomSetCookie) MB_EXPORT(MbAtomSetInt)    \
    MB_EXPORT(MbAtomSetReal) MB_EXPORT(MbAtomSetString) MB_EXPORT(MbAtomSetTime)                           \
    MB_EXPORT(MbAtomSetSystemTime) MB_EXPORT(MbAtomSetUnsigned)                                            \
    MB_EXPORT(MbListAppend) MB_EXPORT(MbListInsert) MB_EXPORT(MbItemGetCount) MB_EXPORT(MbItemGetAt)        \
    MB_EXPORT(MbItemSetAt) MB_EXPORT(MbItemRemoveAt) MB_EXPORT(MbMapGetKeyAt) MB_EXPORT(MbItemGet)          \
    MB_EXPORT(MbItemSet) MB_EXPORT(MbItemRemove) MB_EXPORT(MbMapGetNamed) MB_EXPORT(MbMapHasNamed)          \
    MB_EXPORT(MbMapSetNamed) MB_EXPORT(MbMapRemoveNamed) MB_EXPORT(MbItemClear) MB_EXPORT(MbItemEqual)      \
    MB_EXPORT(MbItemToBytes) MB_EXPORT(MbItemFromBytes) MB_EXPORT(MbItemToText)                            \
    MB_EXPORT(MbBuild) MB_EXPORT(MbBuildV)                                                                 \
    MB_EXPORT(MbSinkOpen) MB_EXPORT(MbSinkOpenEx) MB_EXPORT(MbSinkClose) MB_EXPORT(MbSinkCloseNoWait)       \
    MB_EXPORT(MbSinkGetPeerFlags) MB_EXPORT(MbSinkGetPeers) MB_EXPORT(MbSinkTestPeers)                     \
    MB_EXPORT(MbSinkOpenSource) MB_EXPORT(MbSinkOpenSourceEx) MB_EXPORT(MbSinkConnect)                     \
    MB_EXPORT(MbSinkConnectEx)                                                                             \
    MB_EXPORT(MbSinkServiceOpen) MB_EXPORT(MbSinkServiceClose) MB_EXPORT(MbSinkServicePeek)                 \
    MB_EXPORT(MbSinkServiceTake) MB_EXPORT(MbSinkServicePostCall) MB_EXPORT(MbSinkServiceGetState)          \
    MB_EXPORT(MbSourceOpen) MB_EXPORT(MbSourceOpenEx) MB_EXPORT(MbSourceClose) MB_EXPORT(MbSourceTest)      \
    MB_EXPORT(MbSourceGetPid)                                                                              \
    MB_EXPORT(MbServiceOpen) MB_EXPORT(MbServiceClose) MB_EXPORT(MbServiceTest) MB_EXPORT(MbServicePost)    \
    MB_EXPORT(MbServiceSend) MB_EXPORT(MbServiceAdvise) MB_EXPORT(MbServiceUpdate) MB_EXPORT(MbServiceCall) \
    MB_EXPORT(MbServiceQuery) MB_EXPORT(MbServiceQueryCookie) MB_EXPORT(MbServiceReply)                    \
    MB_EXPORT(MbSinkListEx) MB_EXPORT(MbSinkList)                                                          \
    MB_EXPORT_AS("boost::serialization::singleton_module::get_lock", SingletonModuleGetLock)               \
    MB_EXPORT_AS("boost::serialization::singleton_module::is_locked", SingletonModuleIsLocked)             \
    MB_EXPORT_AS("boost::serialization::singleton_module::lock", SingletonModuleLock)                      \
    MB_EXPORT_AS("boost::serialization::singleton_module::unlock", SingletonModuleUnlock)
// clang-format on
