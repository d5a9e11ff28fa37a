# kova_engine: the client adapter and its configuration, the engine over Ice and the
# push servant. Engine sources follow the KOVAClientLibImpl*.cpp naming and are picked
# up by the glob; everything else is listed by name.
file(GLOB kova_engine_sources CONFIGURE_DEPENDS
  ${CMAKE_CURRENT_SOURCE_DIR}/libKOVAClient/KOVAClientLibImpl*.cpp)
list(APPEND kova_engine_sources
  ${CMAKE_CURRENT_SOURCE_DIR}/libKOVAClient/KOVAClientAdapter.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/libKOVAClient/KOVAClientAdapterListener.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/libKOVAClient/KOVAMessageListenerI.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/libKOVAClient/KOVAConfigText.cpp)

add_library(kova_engine STATIC ${kova_engine_sources})
target_include_directories(kova_engine PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/libKOVAClient)
target_link_libraries(kova_engine PUBLIC kova_logging kova_slice
  Ice::Glacier2 Ice::IceGrid Ice::Ice Threads::Threads)
# The engine hands pulled batches over as ConsumeStatus (kova_model) and posts
# asynchronous completions onto asio io_contexts.
target_link_libraries(kova_engine PUBLIC kova_model Boost::system Boost::thread)
