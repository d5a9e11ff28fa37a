# kova_store: the fail-store files (write windows, reading and claiming between
# processes, the record bytes and the named locks).
set(KOVA_STORE_DIR ${CMAKE_CURRENT_LIST_DIR}/libKOVAClient)
add_library(kova_store STATIC
  ${KOVA_STORE_DIR}/KOVAStoreFile.cpp
  ${KOVA_STORE_DIR}/KOVAStoreFileWrite.cpp
  ${KOVA_STORE_DIR}/KOVAStoreFileRead.cpp
  ${KOVA_STORE_DIR}/KOVAStoreRecord.cpp
  ${KOVA_STORE_DIR}/KOVAStoreRecordCheck.cpp
  ${KOVA_STORE_DIR}/KOVANamedLock.cpp
  ${KOVA_STORE_DIR}/KOVAStoreFileLock.cpp)
target_include_directories(kova_store PUBLIC ${KOVA_STORE_DIR})
target_link_libraries(kova_store
  PUBLIC kova_log_codecs kova_slice Boost::headers Threads::Threads
  PRIVATE Boost::serialization Boost::filesystem Boost::system)
