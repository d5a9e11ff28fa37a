# kova_model: the consumed and produced messages, their conversions to and from the
# wire record, the push-consumer states and the data part of the consume status.
# The remote operations of ConsumeStatus (commit, asynchronous commit, follow-up
# pull) live in their own units beside the data part.
set(KOVA_MODEL_DIR ${CMAKE_CURRENT_LIST_DIR})
add_library(kova_model STATIC
  ${KOVA_MODEL_DIR}/KOVACommon/ClientCodeContract.cpp
  ${KOVA_MODEL_DIR}/KOVACommon/ClientGate.cpp
  ${KOVA_MODEL_DIR}/KOVACommon/EncodingNames.cpp
  ${KOVA_MODEL_DIR}/KOVACommon/LocalConsumeStatus.cpp
  ${KOVA_MODEL_DIR}/KOVACommon/OwedCallbacks.cpp
  ${KOVA_MODEL_DIR}/KOVACommon/ProduceConversion.cpp
  ${KOVA_MODEL_DIR}/KOVACommon/ConsumeResultConversion.cpp
  ${KOVA_MODEL_DIR}/libKOVAClient/KOVAIMessage.cpp
  ${KOVA_MODEL_DIR}/libKOVAClient/KOVAOMessage.cpp
  ${KOVA_MODEL_DIR}/libKOVAClient/KOVAConsumeStatus.cpp
  ${KOVA_MODEL_DIR}/libKOVAClient/KOVAConsumeStatusCommit.cpp
  ${KOVA_MODEL_DIR}/libKOVAClient/KOVAConsumeStatusAsyncCommit.cpp
  ${KOVA_MODEL_DIR}/libKOVAClient/KOVAConsumeStatusConsume.cpp)
target_include_directories(kova_model PUBLIC
  ${KOVA_MODEL_DIR}/KOVACommon
  ${KOVA_MODEL_DIR}/libKOVAClient)
target_link_libraries(kova_model PUBLIC kova_log_codecs kova_slice Ice::Glacier2 Ice::Ice)
