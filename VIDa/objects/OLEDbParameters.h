#pragma once
// Parameter descriptions of a command: the list, the consumer's values of an
// execution and the storage that carries out ICommandWithParameters.
#include <windows.h>
#include <oledb.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class TOleDbAccessor;
class TOleDbParameters;

class TOleDbParameter {
public:
  explicit TOleDbParameter(TOleDbParameters& parameters) : Parameters(&parameters) {}

  TOleDbParameters* Parameters;
  DBPARAMFLAGS Flags = 0;
  std::wstring Name;
  // Bytes; twice the character count for DBTYPE_WSTR.
  ULONG Size = 0;
  DBTYPE DataType = DBTYPE_EMPTY;
  BYTE Precision = 0;
  BYTE Scale = 0;

  // Position in the list + 1.
  DB_UPARAMS Ordinal() const;
};

class TOleDbParameters {
public:
  TOleDbParameters() = default;
  TOleDbParameters(const TOleDbParameters&) = delete;
  TOleDbParameters& operator=(const TOleDbParameters&) = delete;
  ~TOleDbParameters() { Clear(); }

  // Appends a parameter; types with a fixed size take that size.
  TOleDbParameter& AddParameter(std::wstring_view name, DBTYPE dataType, ULONG size, DBPARAMFLAGS flags = 0,
                                BYTE precision = 0, BYTE scale = 0);
  // Frees the parameter at ordinal; later ordinals move down by one.
  void RemoveParameter(DB_UPARAMS ordinal);
  // Frees the parameters, last added first.
  void Clear() noexcept;

  std::size_t Count() const noexcept { return items_.size(); }
  TOleDbParameter& Items(std::size_t index) const { return *items_.at(index); }
  DB_UPARAMS Ordinal(const TOleDbParameter& parameter) const;
  // Case ignored; the first match wins.
  TOleDbParameter* FindByName(std::wstring_view name) const noexcept;
  TOleDbParameter* FindByOrdinal(DB_UPARAMS ordinal) const noexcept;

  // Keeps the values of an execution and, when no parameter is described,
  // finds the "?" markers of commandText outside quoted literals: each is a
  // DBTYPE_VARIANT parameter named Parameter0, Parameter1, ...
  void BindForExecution(const DBPARAMS& params, TOleDbAccessor* accessor, std::wstring_view commandText);
  void ScanMarkers(std::wstring_view commandText);

  // The consumer's DBPARAMS of the current execution; meaningful while
  // HasParamData.
  DBPARAMS ParamData{};
  bool HasParamData = false;
  TOleDbAccessor* Accessor = nullptr;
  // The parameter set being processed.
  DB_UPARAMS CurrentSet = 0;

private:
  std::vector<std::unique_ptr<TOleDbParameter>> items_;
};

enum class TOleDbParameterState : std::uint8_t {
  NeverDescribed = 0,
  Discarded = 1,
  Available = 2,
};

// ICommandWithParameters over a parameter list. The command binds the two
// handlers to its CanDescribeParameters and DescribeParameters.
class TOleDbParameterStorage {
public:
  // Raises E_FAIL "Parameters must be defined" without a list.
  explicit TOleDbParameterStorage(std::unique_ptr<TOleDbParameters> parameters);
  virtual ~TOleDbParameterStorage() = default;
  TOleDbParameterStorage(const TOleDbParameterStorage&) = delete;
  TOleDbParameterStorage& operator=(const TOleDbParameterStorage&) = delete;

  TOleDbParameters& Parameters() const noexcept { return *parameters_; }
  bool HasParameterInfo() const noexcept { return State == TOleDbParameterState::Available; }

  // DB_E_PARAMUNAVAILABLE when nothing is described and nothing derivable.
  virtual void GetParameterInfo(DB_UPARAMS* pcParams, DBPARAMINFO** prgParamInfo, OLECHAR** ppNamesBuffer);
  // S_OK, DB_S_ERRORSOCCURRED or DB_E_ERRORSOCCURRED by the names found.
  virtual HRESULT MapParameterNames(DB_UPARAMS cParamNames, const OLECHAR* rgParamNames[],
                                    DB_LPARAMS rgParamOrdinals[]);
  // Every entry is validated before anything changes; the ordinals of one
  // call all refer to the numbering before it. S_OK or DB_S_TYPEINFOOVERRIDDEN.
  virtual HRESULT SetParameterInfo(DB_UPARAMS cParams, const DB_UPARAMS rgParamOrdinals[],
                                   const DBPARAMBINDINFO rgParamBindInfo[]);
  // Asks the provider to describe the parameters itself.
  virtual bool DeriveParameters();
  virtual bool TypeFromName(const wchar_t* name, DBTYPE& type) const;

  TOleDbParameterState State = TOleDbParameterState::NeverDescribed;
  std::function<void()> OnDeriveParameters;
  std::function<bool()> OnCanDeriveParameters;

private:
  std::unique_ptr<TOleDbParameters> parameters_;
};
