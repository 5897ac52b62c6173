// The root of the framework's classes.
#ifndef QUENLAT_FRAMEWORK_OBJECT_H
#define QUENLAT_FRAMEWORK_OBJECT_H

// Root class: a virtual destructor, so that objects can be deleted through
// a base pointer. Objects of its classes are not copied.
class CObject {
 public:
  virtual ~CObject() {}

  CObject(const CObject&) = delete;
  CObject& operator=(const CObject&) = delete;

 protected:
  CObject() {}
};

#endif
