#include "core/importexport/RemoteImportExportPhone.h"

#include "core/remote/TBNThriftRemoteMobileSevice.h"

namespace lumvane {

namespace {

class RemotePhone : public ImportExportPhone {
  public:
    explicit RemotePhone(std::weak_ptr<TBNThriftRemoteMobileSevice> service)
        : service_(std::move(service)) {}

    void importRecords(TBNSiteDataList sites, std::shared_ptr<TBNU2FDataList> u2fRecords,
                       std::string sourceName, std::string sourceDetail, Answer approved,
                       Answer completion) override {
        auto service = service_.lock();
        if (!service) return;
        service->importRecords(
            std::move(sites), std::move(u2fRecords), sourceName, sourceDetail,
            [approved = std::move(approved)](const TBNErrorPtr& e) {
                if (approved) approved(e);
            },
            [completion = std::move(completion)](const TBNErrorPtr& e) {
                if (completion) completion(e);
            });
    }

    void cancelImport() override {
        if (auto service = service_.lock()) service->cancelImport();
    }

    void exportRecordsTo(std::string destinationName, std::string destinationDetail,
                         Answer approved, ExportDone completion) override {
        auto service = service_.lock();
        if (!service) return;
        service->exportRecordsTo(
            destinationName, destinationDetail,
            [approved = std::move(approved)](const TBNErrorPtr& e) {
                if (approved) approved(e);
            },
            [completion = std::move(completion)](std::shared_ptr<TBNSiteDataList> sites,
                                                 std::shared_ptr<TBNU2FDataList> u2f,
                                                 const TBNErrorPtr& e) {
                if (completion) completion(std::move(sites), std::move(u2f), e);
            });
    }

    void cancelExport() override {
        if (auto service = service_.lock()) service->cancelExport();
    }

  private:
    std::weak_ptr<TBNThriftRemoteMobileSevice> service_;
};

}  // namespace

std::shared_ptr<ImportExportPhone> remoteImportExportPhone(
    std::weak_ptr<TBNThriftRemoteMobileSevice> service) {
    return std::make_shared<RemotePhone>(std::move(service));
}

}  // namespace lumvane
