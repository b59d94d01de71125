// The layout probe: what a driver module compiled against a set of host
// headers takes for granted about the host's classes, one fact a line
// ("subject<TAB>attribute<TAB>value"), sorted, so that two reports compare
// line by line. Built against our framework/ it tells what the module was
// built against; built against the controller's own headers (forced in with
// -include and QUILL_FORCED_HOST_HEADERS) it tells what the controller was.
//
// It reads declarations only: sizes and offsets, the virtual table slots from
// pointers to virtual members (no symbol), and the types of the non-virtual
// operations (decltype, never their address). It links nothing of the host.
// A member or operation the headers lack is reported as missing; a class or
// type they lack stops the build.
//
// Usage: abi_probe [REPORT]   (default: standard output)

#ifndef QUILL_FORCED_HOST_HEADERS
#include "framework/SMDSPDevice.h"
#include "framework/ttime.h"
#include "plugin/Provider.h"
#endif

// Named in the report whatever the host's headers include.
#include <boost/thread/mutex.hpp>
#include <boost/thread/shared_mutex.hpp>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>
#include <type_traits>
#include <vector>

#include "MemberPointer.h"
#include "TypeName.h"

// ---- What the module relies on --------------------------------------------------

// The host's classes: size, alignment, destructor, number of virtual table slots.
#define QUILL_HOST_CLASSES(X) \
    X(VDeviceInterface)       \
    X(SMDVDevice)             \
    X(SMDSPDevice)            \
    X(Provider)               \
    X(SMDSPDeviceProvider)

// Types the module keeps, copies, hands over by value or destroys: size,
// alignment, and whether destroying one runs code.
#define QUILL_HOST_TYPES(X)     \
    X(ttime)                    \
    X(rule_value)               \
    X(EnumParity)               \
    X(boost::posix_time::ptime) \
    X(boost::mutex)             \
    X(boost::shared_mutex)      \
    X(std::string)

// Derived class, base: where the base lies in it.
#define QUILL_HOST_BASES(X)                                    \
    X(SMDVDevice, VDeviceInterface)                            \
    X(SMDVDevice, std::enable_shared_from_this<SMDVDevice>)   \
    X(SMDSPDevice, SMDVDevice)                                 \
    X(SMDSPDeviceProvider, Provider)

// Data members that the module, its template or the inline code of the
// host's headers reads, writes or destroys: offset in the class, type.
//  - those the module and the inline defaults use by name;
//  - the host's own members that are more than plain values: the inline
//    destructors of SMDVDevice and SMDSPDevice, compiled into the module,
//    destroy each at its offset (the names are ours);
//  - every member of the records the module stores or destroys: the time
//    stamp it copies into each block, and the pending rule checks that
//    rule_values_.clear() destroys.
#define QUILL_HOST_MEMBERS(X)                 \
    X(VDeviceInterface, data_id_)             \
    X(VDeviceInterface, device_type_)         \
    X(VDeviceInterface, use_controller_db_)   \
    X(SMDVDevice, check_index_)               \
    X(SMDVDevice, last_update_)               \
    X(SMDVDevice, data_valid_)                \
    X(SMDVDevice, rule_values_)               \
    X(SMDVDevice, alarm_flag_)                \
    X(SMDVDevice, ao_names_)                  \
    X(SMDVDevice, ao_values_)                 \
    X(SMDVDevice, threshold_levels_)          \
    X(SMDVDevice, threshold_values_)          \
    X(SMDSPDevice, step_)                     \
    X(SMDSPDevice, rx_buf_)                   \
    X(SMDSPDevice, rx_len_)                   \
    X(SMDSPDevice, baud_rate_)                \
    X(SMDVDevice, bao_settings_)              \
    X(SMDVDevice, pi_alerts_)                 \
    X(SMDVDevice, alert_mutex_)               \
    X(SMDVDevice, bool_states_)               \
    X(SMDVDevice, controller_)                \
    X(SMDVDevice, ao_reported_)               \
    X(SMDVDevice, di_names_)                  \
    X(SMDVDevice, do_names_)                  \
    X(SMDVDevice, sp_names_)                  \
    X(SMDSPDevice, rx_mutex_)                 \
    X(SMDSPDevice, port_mutex_)               \
    X(ttime, year)                            \
    X(ttime, month)                           \
    X(ttime, day)                             \
    X(ttime, hour)                            \
    X(ttime, minute)                          \
    X(ttime, second)                          \
    X(rule_value, signal_key)                 \
    X(rule_value, alarm_id)                   \
    X(rule_value, rule)                       \
    X(rule_value, text)                       \
    X(rule_value, level)                      \
    X(rule_value, value)                      \
    X(rule_value, state)

// The records whose members the table above names.
#define QUILL_HOST_RECORDS(X) \
    X(ttime)                  \
    X(rule_value)

// Every virtual operation of the host's classes, chosen by its parameters:
// the module's virtual table holds them all. Slot and full signature.
#define QUILL_HOST_VIRTUALS(X)                                                            \
    X(VDeviceInterface, Get_Value, (unsigned int, const std::string&))                    \
    X(VDeviceInterface, LoadFromCache, (const std::string&))                              \
    X(VDeviceInterface, LoadFromCache, (const unsigned char*, int))                       \
    X(VDeviceInterface, DataId, ())                                                       \
    X(VDeviceInterface, DeviceType, ())                                                   \
    X(VDeviceInterface, DeviceIoControl, (int, const void*, int, void*, int, int&))       \
    X(VDeviceInterface, RoundDone, ())                                                    \
    X(VDeviceInterface, UseControllerDb, ())                                              \
    X(SMDVDevice, Reset, ())                                                              \
    X(SMDVDevice, InitV, (SMDVDevice*, unsigned int, const Json::Value&))                 \
    X(SMDVDevice, Init, (std::weak_ptr<SMDController>, unsigned int, const Json::Value&)) \
    X(SMDVDevice, InitSetting, (const Json::Value&))                                      \
    X(SMDVDevice, IsSupportDevice, (const std::string&))                                  \
    X(SMDVDevice, GetChildVDevice, (unsigned int))                                        \
    X(SMDVDevice, GetAllChildVDevices, ())                                                \
    X(SMDVDevice, SendSP, (int, const unsigned char*, unsigned int, bool))                \
    X(SMDVDevice, SendDelayData, (int))                                                   \
    X(SMDVDevice, SendDoData, (int, char))                                                \
    X(SMDVDevice, ReadDi, (int))                                                          \
    X(SMDVDevice, ReadAi, (int))                                                          \
    X(SMDVDevice, Get_SP_Value, (unsigned int, const std::string&))                       \
    X(SMDSPDevice, RefreshStatus, ())                                                     \
    X(SMDSPDevice, process, (unsigned char*, unsigned int))                               \
    X(SMDSPDevice, IsProcessing, ())                                                      \
    X(SMDSPDevice, IsStalled, ())                                                         \
    X(SMDSPDevice, SendData, (const unsigned char*, unsigned int))                        \
    X(SMDSPDevice, SendParityData, (const unsigned char*, unsigned int, EnumParity))      \
    X(SMDSPDevice, OpenPort, ())                                                          \
    X(SMDSPDevice, ClosePort, ())                                                         \
    X(SMDSPDeviceProvider, create, ())

// Non-virtual operations of the host that the module calls: full signature.
#define QUILL_HOST_CALLS(X)                                                                 \
    X(SMDVDevice, CheckThresholdBool,                                                       \
      (int, const std::string&, const std::string&, const std::string&, const std::string&, \
       bool, unsigned short))                                                               \
    X(SMDVDevice, CheckAOReport, (const std::string&, float))                               \
    X(SMDVDevice, CheckThreshold, (const std::string&, const std::string&, const float&, int)) \
    X(SMDVDevice, DoBatchCheckThreshold, (const std::vector<rule_value>&))                  \
    X(SMDVDevice, SaveDeviceHistory, (const unsigned char*, unsigned int))

// The host's classes by name: typeid would need their type information,
// which the host defines.
#define QUILL_NAMED_CLASS(Class)                              \
    template <>                                               \
    struct TypeName<Class> {                                  \
        static std::string Text() { return #Class; }          \
    };
QUILL_HOST_CLASSES(QUILL_NAMED_CLASS)
QUILL_NAMED_CLASS(SMDController)

// ---- The report -----------------------------------------------------------------

namespace {

class Report {
public:
    explicit Report(VirtualBit bit) : bit_(bit) {}

    VirtualBit Bit() const { return bit_; }

    void Add(const std::string& subject, const char* attribute, const std::string& value)
    {
        lines_.push_back(subject + "\t" + attribute + "\t" + value + "\n");
    }

    void Add(const std::string& subject, const char* attribute, std::ptrdiff_t value)
    {
        Add(subject, attribute, std::to_string(value));
    }

    void Missing(const std::string& subject, std::initializer_list<const char*> attributes)
    {
        for (const char* attribute : attributes) {
            Add(subject, attribute, "missing");
        }
    }

    // Sorted, to the file named or to standard output.
    bool Write(const char* path)
    {
        std::sort(lines_.begin(), lines_.end());
        std::FILE* out = path != nullptr ? std::fopen(path, "w") : stdout;
        if (out == nullptr) {
            std::fprintf(stderr, "abi_probe: cannot write %s: %s\n", path, std::strerror(errno));
            return false;
        }
        for (const std::string& line : lines_) {
            std::fputs(line.c_str(), out);
        }
        const bool written = std::fflush(out) == 0 && !std::ferror(out);
        if (path != nullptr) {
            std::fclose(out);
        }
        return written;
    }

private:
    VirtualBit bit_;
    std::vector<std::string> lines_;
};

// A type as a value, to pass to the lookups below.
template <class T>
struct Type {
    using type = T;
};

// Chooses among overloads by the parameters P... alone, so that a different
// result type or const-ness is reported rather than failing the build.
template <class... P>
struct Params {
    template <class R, class C>
    static constexpr auto Pick(R (C::*function)(P...)) { return function; }
    template <class R, class C>
    static constexpr auto Pick(R (C::*function)(P...) const) { return function; }
    template <class R>
    static constexpr auto PickFree(R (*function)(P...)) { return function; }
};

#define QUILL_UNPAREN(...) __VA_ARGS__

// Lookups by name in the class a view stands for, as generic lambdas whose
// result type fails to form when the name is missing: callable or not.
#define QUILL_MEMBER_OF(name) \
    [](auto view) -> decltype(&decltype(view)::type::name) { return &decltype(view)::type::name; }
#define QUILL_FUNCTION_OF(name, params)                                                    \
    [](auto view) -> decltype(Params<QUILL_UNPAREN params>::Pick(&decltype(view)::type::name)) { \
        return Params<QUILL_UNPAREN params>::Pick(&decltype(view)::type::name);           \
    }

template <class R, class... P>
std::string SignatureText(const char* name, const char* qualifier)
{
    return TypeName<R>::Text() + " " + name + "(" + TypeList<P...>() + ")" + qualifier;
}

template <class F>
struct Signature;

template <class R, class C, class... P>
struct Signature<R (C::*)(P...)> {
    static std::string Text(const char* name) { return SignatureText<R, P...>(name, ""); }
};

template <class R, class C, class... P>
struct Signature<R (C::*)(P...) const> {
    static std::string Text(const char* name) { return SignatureText<R, P...>(name, " const"); }
};

template <class R, class... P>
struct Signature<R (*)(P...)> {
    static std::string Text(const char* name) { return SignatureText<R, P...>(name, ""); }
};

template <class P>
struct MemberType;

template <class T, class C>
struct MemberType<T C::*> {
    using type = T;
};

std::string SlotText(const VirtualSlot& slot)
{
    if (!slot.is_virtual) {
        return "not-virtual";
    }
    std::string text = std::to_string(slot.slot);
    if (slot.adjustment != 0) {
        text += " of the base at " + std::to_string(slot.adjustment);
    }
    return text;
}

template <class C>
void ClassFacts(Report& report, const std::string& name)
{
    report.Add(name, "size", sizeof(C));
    report.Add(name, "align", alignof(C));
    report.Add(name, "destructor", std::has_virtual_destructor_v<C> ? "virtual" : "non-virtual");
    if constexpr (!std::is_polymorphic_v<C>) {
        report.Add(name, "vtable-slots", 0);
    } else {
        // A slot added below the class lands in the first slot it leaves free.
        struct Tail : C {
            virtual void ProbeTailSlot() = 0;
        };
        report.Add(name, "vtable-slots", SlotText(SlotOf(RawOf(&Tail::ProbeTailSlot), report.Bit())));
    }
}

template <class T>
const char* DestructorText()
{
    return std::is_trivially_destructible_v<T> ? "trivial" : "non-trivial";
}

template <class T>
void TypeFacts(Report& report, const std::string& name)
{
    report.Add(name, "size", sizeof(T));
    report.Add(name, "align", alignof(T));
    report.Add(name, "destructor", DestructorText<T>());
}

// A type nested in a host class, by a lookup that answers Type<nested>: only
// whether destroying one runs code, as the module destroys them in a map.
template <class V, class Lookup>
void NestedDestructorFacts(Report& report, const std::string& subject, Lookup)
{
    if constexpr (std::is_invocable_v<Lookup, Type<V>>) {
        using T = typename std::invoke_result_t<Lookup, Type<V>>::type;
        report.Add(subject, "destructor", DestructorText<T>());
    } else {
        report.Missing(subject, {"destructor"});
    }
}

template <class D, class B>
void BaseFacts(Report& report, const std::string& subject)
{
    if constexpr (!std::is_convertible_v<D*, B*>) {
        report.Missing(subject, {"offset"});
    } else {
        // Only the address arithmetic of the conversion: no object is made.
        alignas(D) static unsigned char storage[sizeof(D)];
        const B* base = reinterpret_cast<const D*>(storage);
        report.Add(subject, "offset", reinterpret_cast<const unsigned char*>(base) - storage);
    }
}

template <class V, class Lookup>
void MemberFacts(Report& report, const std::string& subject, Lookup member)
{
    if constexpr (std::is_invocable_v<Lookup, Type<V>>) {
        using Pointer = std::invoke_result_t<Lookup, Type<V>>;
        if constexpr (std::is_member_object_pointer_v<Pointer>) {
            using T = typename MemberType<Pointer>::type;
            T V::Host::*in_class = member(Type<V>{});
            report.Add(subject, "offset", OffsetOf(in_class));
            report.Add(subject, "type", TypeName<T>::Text());
            return;
        }
    }
    report.Missing(subject, {"offset", "type"});
}

template <class V, class Lookup>
void VirtualFacts(Report& report, const std::string& subject, const char* name, Lookup function)
{
    if constexpr (std::is_invocable_v<Lookup, Type<V>>) {
        auto pointer = function(Type<V>{});
        report.Add(subject, "slot", SlotText(SlotOf(RawOf(pointer), report.Bit())));
        report.Add(subject, "signature", Signature<decltype(pointer)>::Text(name));
    } else {
        report.Missing(subject, {"slot", "signature"});
    }
}

// The type of the operation only: its address would need the host's symbol.
template <class V, class Lookup>
void CallFacts(Report& report, const std::string& subject, const char* name, Lookup)
{
    if constexpr (std::is_invocable_v<Lookup, Type<V>>) {
        report.Add(subject, "signature", Signature<std::invoke_result_t<Lookup, Type<V>>>::Text(name));
    } else {
        report.Missing(subject, {"signature"});
    }
}

// The host class C seen from a class derived from it, where its protected
// members can be named. Never made: it only lends its access to the lookups.
template <class C>
struct View : C {
    using Host = C;

    static void Facts(Report& report)
    {
#define QUILL_MEMBER_FACTS(Class, name)                                                  \
    if constexpr (std::is_same_v<C, Class>) {                                            \
        MemberFacts<View>(report, #Class "::" #name, QUILL_MEMBER_OF(name));             \
    }
#define QUILL_VIRTUAL_FACTS(Class, name, params)                                         \
    if constexpr (std::is_same_v<C, Class>) {                                            \
        VirtualFacts<View>(report, #Class "::" #name #params, #name,                     \
                           QUILL_FUNCTION_OF(name, params));                             \
    }
#define QUILL_CALL_FACTS(Class, name, params)                                            \
    if constexpr (std::is_same_v<C, Class>) {                                            \
        CallFacts<View>(report, #Class "::" #name #params, #name,                        \
                        QUILL_FUNCTION_OF(name, params));                                \
    }
        QUILL_HOST_MEMBERS(QUILL_MEMBER_FACTS)
        QUILL_HOST_VIRTUALS(QUILL_VIRTUAL_FACTS)
        QUILL_HOST_CALLS(QUILL_CALL_FACTS)
        if constexpr (std::is_same_v<C, SMDVDevice>) {
            NestedDestructorFacts<View>(report, "SMDVDevice::BAOSetting",
                                        [](auto view) -> Type<typename decltype(view)::type::BAOSetting> {
                                            return {};
                                        });
        }
    }
};

}  // namespace

int main(int argc, char** argv)
{
    const VirtualBit bit = ThisCompilersVirtualBit();
    if (bit == VirtualBit::Unknown) {
        std::fprintf(stderr, "abi_probe: this compiler does not lay out pointers to virtual "
                             "functions as the Itanium C++ ABI does; it cannot be read\n");
        return 2;
    }
    Report report(bit);
#define QUILL_CLASS_FACTS(Class)         \
    ClassFacts<Class>(report, #Class);   \
    View<Class>::Facts(report);
#define QUILL_TYPE_FACTS(T) TypeFacts<T>(report, #T);
#define QUILL_BASE_FACTS(Derived, Base) BaseFacts<Derived, Base>(report, #Derived "'s base " #Base);
#define QUILL_RECORD_FACTS(Record) View<Record>::Facts(report);
    QUILL_HOST_CLASSES(QUILL_CLASS_FACTS)
    QUILL_HOST_RECORDS(QUILL_RECORD_FACTS)
    QUILL_HOST_TYPES(QUILL_TYPE_FACTS)
    QUILL_HOST_BASES(QUILL_BASE_FACTS)
    CallFacts<boost::posix_time::ptime>(
        report, "get_ttime(boost::posix_time::ptime)", "get_ttime",
        [](auto time) -> decltype(Params<typename decltype(time)::type>::PickFree(&get_ttime)) {
            return Params<typename decltype(time)::type>::PickFree(&get_ttime);
        });
    return report.Write(argc > 1 ? argv[1] : nullptr) ? 0 : 2;
}
