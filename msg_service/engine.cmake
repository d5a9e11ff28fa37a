# kova_engine: the client adapter and its configuration, the engine over Ice and the
# push servant.
set(KOVA_ENGINE_DIR ${CMAKE_CURRENT_LIST_DIR}/libKOVAClient)
add_library(kova_engine STATIC
  ${KOVA_ENGINE_DIR}/KOVAClientLibImplSession.cpp
  ${KOVA_ENGINE_DIR}/KOVAClientLibImplProduce.cpp
  ${KOVA_ENGINE_DIR}/KOVAClientLibImplPull.cpp
  ${KOVA_ENGINE_DIR}/KOVAClientLibImplPullAsync.cpp
  ${KOVA_ENGINE_DIR}/KOVAClientLibImplPush.cpp
  ${KOVA_ENGINE_DIR}/KOVAClientLibImplPushShared.cpp
  ${KOVA_ENGINE_DIR}/KOVAClientLibImplPushMonitor.cpp
  ${KOVA_ENGINE_DIR}/KOVAClientLibImplRelease.cpp
  ${KOVA_ENGINE_DIR}/KOVAClientAdapter.cpp
  ${KOVA_ENGINE_DIR}/KOVAClientAdapterListener.cpp
  ${KOVA_ENGINE_DIR}/KOVAMessageListenerI.cpp
  ${KOVA_ENGINE_DIR}/KOVAPushPool.cpp
  ${KOVA_ENGINE_DIR}/KOVAConfigText.cpp
  ${KOVA_ENGINE_DIR}/KOVAClientThreads.cpp)
target_include_directories(kova_engine PUBLIC ${KOVA_ENGINE_DIR})
target_link_libraries(kova_engine PUBLIC kova_log_codecs kova_slice
  Ice::Glacier2 Ice::IceGrid Ice::Ice Threads::Threads)
# The engine hands pulled batches over as ConsumeStatus (kova_model) and posts
# asynchronous completions onto asio io_contexts.
target_link_libraries(kova_engine PUBLIC kova_model Boost::system Boost::thread)
