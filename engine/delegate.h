#pragma once
// Method pointers of the engine's event types: an object and a function, trivially copyable, so a
// particle's hooks are copied with the particle record at no cost. Called only when assigned.
#include <type_traits>

template <typename... Args>
struct KZ_Delegate {
  using Function = void (*)(void* object, Args... args);

  void* Object = nullptr;
  Function Code = nullptr;

  bool Assigned() const { return Code != nullptr; }
  void Clear() { *this = KZ_Delegate{}; }
  void operator()(Args... args) const { Code(Object, args...); }

  // A plain function with an object pointer of its own.
  static KZ_Delegate Of(Function code, void* object = nullptr) {
    KZ_Delegate d;
    d.Object = object;
    d.Code = code;
    return d;
  }

  // A member function of `object`: KZ_Delegate<...>::Bind<&TkzFirework::AmmoParticleStep>(this).
  template <auto Method, typename T>
  static KZ_Delegate Bind(T* object) {
    KZ_Delegate d;
    d.Object = static_cast<void*>(object);
    d.Code = [](void* o, Args... args) { (static_cast<T*>(o)->*Method)(args...); };
    return d;
  }

  friend bool operator==(const KZ_Delegate& a, const KZ_Delegate& b) {
    return a.Object == b.Object && a.Code == b.Code;
  }
  friend bool operator!=(const KZ_Delegate& a, const KZ_Delegate& b) { return !(a == b); }
};
