// String lists: the abstract TStrings and the vector-backed TStringList.
#pragma once

#include <vector>

#include <qx/framework/core/Object.h>

class TStrings : public TPersistent {
 public:
  static const TClassInfo* StaticClassInfo();
  const TClassInfo* ClassInfo() const override { return StaticClassInfo(); }

  virtual int Count() const = 0;
  virtual String Get(int index) const = 0;
  virtual void Put(int index, const String& s) = 0;
  virtual TObject* GetObject(int index) const = 0;
  virtual void PutObject(int index, TObject* obj) = 0;
  virtual void Insert(int index, const String& s, TObject* obj = nullptr) = 0;
  virtual void Delete(int index) = 0;
  virtual void Clear() = 0;

  int Add(const String& s) { return AddObject(s, nullptr); }
  int AddObject(const String& s, TObject* obj) {
    Insert(Count(), s, obj);
    return Count() - 1;
  }
  String operator[](int index) const { return Get(index); }
  String Strings(int index) const { return Get(index); }
  TObject* Objects(int index) const { return GetObject(index); }
  int IndexOf(const String& s) const;
  // Lines joined, each followed by a line feed; setting splits at CR, LF or CR LF.
  String Text() const;
  void SetText(const String& text);
  std::vector<String> ToVector() const;
  void Assign(const TPersistent* source) override;
  friend bool operator==(const TStrings& a, const TStrings& b) {
    return a.ToVector() == b.ToVector();
  }
};

class TStringList : public TStrings {
 public:
  static const TClassInfo* StaticClassInfo();
  const TClassInfo* ClassInfo() const override { return StaticClassInfo(); }

  // With OwnsObjects the list frees an item's object when the item is deleted or cleared.
  explicit TStringList(bool ownsObjects = false) : FOwnsObjects(ownsObjects) {}
  ~TStringList() override { Clear(); }

  int Count() const override { return static_cast<int>(FItems.size()); }
  String Get(int index) const override;
  void Put(int index, const String& s) override;
  TObject* GetObject(int index) const override;
  void PutObject(int index, TObject* obj) override;
  void Insert(int index, const String& s, TObject* obj = nullptr) override;
  void Delete(int index) override;
  void Clear() override;
  bool OwnsObjects() const { return FOwnsObjects; }

 private:
  void Check(int index) const;
  struct Item {
    String S;
    TObject* Obj;
  };
  std::vector<Item> FItems;
  bool FOwnsObjects;
};
