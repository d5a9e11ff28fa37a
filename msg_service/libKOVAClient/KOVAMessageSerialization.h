// Internal (kova_store).
// Boost.Serialization of the wire record KOVAMsg::KOVAMessage, as stored in the
// fail-store files. The member order is part of the stored format: files written by
// any process or library version that shares a store directory must keep decoding.
// The record keeps Boost's default traits (class version 0, class information written,
// selective tracking); it is never serialised through a pointer.
// Thread-safety: a pure function.
#pragma once

#include <boost/serialization/map.hpp>
#include <boost/serialization/nvp.hpp>
#include <boost/serialization/string.hpp>
#include <boost/serialization/utility.hpp>
#include <boost/serialization/vector.hpp>

#include "KOVAMessage.h"

namespace boost {
namespace serialization {

template <class Archive>
void serialize(Archive& ar, KOVAMsg::KOVAMessage& msg, const unsigned int /*version*/) {
    ar& boost::serialization::make_nvp("msg.properties", msg.properties);
    ar& boost::serialization::make_nvp("msg.s_properties", msg.s_properties);
    ar& boost::serialization::make_nvp("msg.i_properties", msg.i_properties);
    ar& boost::serialization::make_nvp("msg.l_properties", msg.l_properties);
    ar& boost::serialization::make_nvp("msg.message", msg.message);
}

}  // namespace serialization
}  // namespace boost
