#pragma once
// Method pointers of the engine's event types: an object and a function, trivially copyable, so a
// particle's hooks are copied with the particle record at no cost. Called only when assigned.
#include <type_traits>

template <typename Result, typename... Args>
struct KZ_Callback {
  using Function = Result (*)(void* object, Args... args);

  void* Object = nullptr;
  Function Code = nullptr;

  bool Assigned() const { return Code != nullptr; }
  void Clear() { *this = KZ_Callback{}; }
  Result operator()(Args... args) const { return Code(Object, args...); }

  // A plain function with an object pointer of its own.
  static KZ_Callback Of(Function code, void* object = nullptr) {
    KZ_Callback d;
    d.Object = object;
    d.Code = code;
    return d;
  }

  // A member function of `object`: KZ_Delegate<...>::Bind<&TkzFirework::AmmoParticleStep>(this).
  template <auto Method, typename T>
  static KZ_Callback Bind(T* object) {
    KZ_Callback d;
    d.Object = static_cast<void*>(object);
    d.Code = [](void* o, Args... args) -> Result { return (static_cast<T*>(o)->*Method)(args...); };
    return d;
  }

  friend bool operator==(const KZ_Callback& a, const KZ_Callback& b) {
    return a.Object == b.Object && a.Code == b.Code;
  }
  friend bool operator!=(const KZ_Callback& a, const KZ_Callback& b) { return !(a == b); }
};

// An event: a callback without a result.
template <typename... Args>
using KZ_Delegate = KZ_Callback<void, Args...>;
