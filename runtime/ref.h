// References to objects of the classes that are created explicitly: null
// until an object is created and assigned, shared by every copy. A call
// through a null reference writes the caller's trace line and raises the
// null-object error (a RuntimeError).
//
// Implemented: portable (this header).
#ifndef TOLMEX_RUNTIME_REF_H_
#define TOLMEX_RUNTIME_REF_H_

#include <memory>
#include <utility>

#include "runtime/runtime_error.h"
#include "runtime/trace.h"

namespace runtime {

template <class T>
class Ref {
 public:
  Ref() = default;  // null

  // Creates an object of class T, as the "create" statement does.
  // `args` go to its constructor.
  template <class... Args>
  static Ref create(Args&&... args) {
    return Ref(std::make_shared<T>(std::forward<Args>(args)...));
  }

  bool is_null() const { return object_ == nullptr; }

  // The object it refers to, for a call made by a routine of the class whose
  // trace code is `caller`; when null, writes that trace line and raises the
  // null-object error.
  T& deref(TraceCode caller) const {
    if (object_ == nullptr) {
      trace_failed_call(caller);
      throw RuntimeError("null object reference");
    }
    return *object_;
  }

 private:
  explicit Ref(std::shared_ptr<T> object) : object_(std::move(object)) {}
  std::shared_ptr<T> object_;
};

}  // namespace runtime

#endif  // TOLMEX_RUNTIME_REF_H_
