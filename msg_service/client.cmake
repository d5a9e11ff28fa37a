# kova_client: the process-wide facade (KOVAClientLib) and the client manager
# with its worker threads, on top of the engine and the fail-store.
set(KOVA_CLIENT_DIR ${CMAKE_CURRENT_LIST_DIR}/libKOVAClient)
add_library(kova_client STATIC
  ${KOVA_CLIENT_DIR}/KOVAClientLib.cpp
  ${KOVA_CLIENT_DIR}/KOVAClientLibProduce.cpp
  ${KOVA_CLIENT_DIR}/KOVAClientLibState.cpp
  ${KOVA_CLIENT_DIR}/KOVAClientManager.cpp
  ${KOVA_CLIENT_DIR}/KOVAClientManagerReProduce.cpp)
target_include_directories(kova_client PUBLIC ${KOVA_CLIENT_DIR})
target_link_libraries(kova_client PUBLIC kova_engine kova_store kova_model Boost::system Threads::Threads)
