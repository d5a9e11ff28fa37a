# kova_model: the consumed and produced messages, their conversions to and from the
# wire record, the push-consumer states and the data part of the consume status.
#
# The remote operations of ConsumeStatus (commit, asynchronous commit, follow-up
# pull) live in their own units named KOVAConsumeStatus<Operation>.cpp beside the
# data part; every such unit is picked up here.
set(KOVA_MODEL_DIR ${CMAKE_CURRENT_LIST_DIR})
file(GLOB kova_consume_status_operations CONFIGURE_DEPENDS
  ${KOVA_MODEL_DIR}/libKOVAClient/KOVAConsumeStatus?*.cpp)

add_library(kova_model STATIC
  ${KOVA_MODEL_DIR}/KOVACommon/ClientCodeContract.cpp
  ${KOVA_MODEL_DIR}/KOVACommon/EncodingNames.cpp
  ${KOVA_MODEL_DIR}/KOVACommon/LocalConsumeStatus.cpp
  ${KOVA_MODEL_DIR}/KOVACommon/ProduceConversion.cpp
  ${KOVA_MODEL_DIR}/KOVACommon/ConsumeResultConversion.cpp
  ${KOVA_MODEL_DIR}/libKOVAClient/KOVAIMessage.cpp
  ${KOVA_MODEL_DIR}/libKOVAClient/KOVAOMessage.cpp
  ${KOVA_MODEL_DIR}/libKOVAClient/KOVAConsumeStatus.cpp
  ${kova_consume_status_operations})
target_include_directories(kova_model PUBLIC
  ${KOVA_MODEL_DIR}/KOVACommon
  ${KOVA_MODEL_DIR}/libKOVAClient)
target_link_libraries(kova_model PUBLIC kova_logging kova_slice Ice::Glacier2 Ice::Ice)
