#include <qx/platform/hostinfo/NetbiosAnswer.h>

#include <algorithm>
#include <cstring>

namespace {

// Values a Windows NetBIOS-over-TCP/IP adapter reports besides its address.
constexpr UCHAR kRevisionMajor = 3;
constexpr UCHAR kEthernetAdapter = 0xFE;
constexpr WORD kMaxDatagramSize = 1472;

const TLanaAnswer* FindLana(const std::vector<TLanaAnswer>& lanas, UCHAR lana) {
  const auto it = std::find_if(lanas.begin(), lanas.end(),
                               [lana](const TLanaAnswer& a) { return a.Lana == lana; });
  return it == lanas.end() ? nullptr : &*it;
}

UCHAR Enumerate(NCB& ncb, const std::vector<TLanaAnswer>& lanas) {
  if (ncb.ncb_buffer == nullptr || ncb.ncb_length == 0) return NRC_BUFLEN;
  const size_t room = std::min<size_t>(ncb.ncb_length - 1u, MAX_LANA + 1);
  const size_t count = std::min(lanas.size(), room);
  ncb.ncb_buffer[0] = static_cast<UCHAR>(count);
  for (size_t i = 0; i < count; ++i) ncb.ncb_buffer[1 + i] = lanas[i].Lana;
  ncb.ncb_length = static_cast<WORD>(1 + count);
  return count < lanas.size() ? NRC_INCOMP : NRC_GOODRET;
}

UCHAR Reset(const NCB& ncb, const std::vector<TLanaAnswer>& lanas) {
  return FindLana(lanas, ncb.ncb_lana_num) != nullptr ? NRC_GOODRET : NRC_BRIDGE;
}

UCHAR AdapterStatus(NCB& ncb, const std::vector<TLanaAnswer>& lanas) {
  const TLanaAnswer* lana = FindLana(lanas, ncb.ncb_lana_num);
  if (lana == nullptr) return NRC_BRIDGE;
  // Only the local adapter ("*") can answer: there is no name service to reach another host.
  if (ncb.ncb_callname[0] != '*') return NRC_CMDTMO;
  if (lana->StatusResult != NRC_GOODRET && lana->StatusResult != NRC_INCOMP) {
    return lana->StatusResult;
  }
  if (ncb.ncb_buffer == nullptr || ncb.ncb_length == 0) return NRC_BUFLEN;

  ADAPTER_STATUS status{};
  std::memcpy(status.adapter_address, lana->Address.data(), sizeof status.adapter_address);
  status.rev_major = kRevisionMajor;
  status.adapter_type = kEthernetAdapter;
  status.max_dgram_size = kMaxDatagramSize;
  const size_t written = std::min<size_t>(ncb.ncb_length, sizeof status);
  std::memcpy(ncb.ncb_buffer, &status, written);
  ncb.ncb_length = static_cast<WORD>(written);
  return written < sizeof status ? NRC_INCOMP : lana->StatusResult;
}

}  // namespace

UCHAR AnswerNcb(NCB& ncb, const std::vector<TLanaAnswer>& lanas) {
  UCHAR result = NRC_ILLCMD;
  switch (ncb.ncb_command) {
    case NCBENUM:
      result = Enumerate(ncb, lanas);
      break;
    case NCBRESET:
      result = Reset(ncb, lanas);
      break;
    case NCBASTAT:
      result = AdapterStatus(ncb, lanas);
      break;
    default:
      break;  // ASYNCH requests land here too: there is no completion to signal later
  }
  ncb.ncb_retcode = result;
  ncb.ncb_cmd_cplt = result;
  return result;
}
