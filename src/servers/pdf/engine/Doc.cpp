#include "servers/pdf/engine/Doc.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <ctime>
#include <fstream>
#include <memory>

#include "automation/Error.h"
#include "system/AtomicFile.h"
#include "servers/pdf/engine/Xmp.h"

namespace pm::pdf {

void raiseBadPage(int page, int count) {
  throw mu::EngineError("Page " + std::to_string(page) + " does not exist: the document has " + std::to_string(count) +
                        (count == 1 ? " page" : " pages") + " (page numbers start at 0)");
}

namespace {

// A PDF begins with its header within the first kilobyte; anything else is
// not a PDF, however much of it the engine's repair could make sense of.
bool looksLikePdf(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  if (!f) return false;
  char buf[1024];
  f.read(buf, sizeof buf);
  std::string_view head(buf, static_cast<size_t>(f.gcount()));
  return head.find("%PDF-") != std::string_view::npos;
}

// The file a save writes: a fresh name beside the target (so the final
// rename stays on one file system and is atomic), renamed over it only when
// complete. New files get the usual mode for the caller's umask; an existing
// file keeps its own.
std::unique_ptr<AtomicFile> tempBeside(const std::string& target) {
  try {
    auto f = std::make_unique<AtomicFile>(target);
    // MuPDF writes it by name.
    f->close();
    return f;
  } catch (const AtomicFileError& e) {
    throw mu::EngineError("Cannot write beside " + target + ": " + std::strerror(e.error()));
  }
}

const char* infoKeyName(const std::string& key) {
  static const char* names[] = {"Title",    "Author",       "Subject", "Keywords", "Creator",
                                "Producer", "CreationDate", "ModDate", "Trapped"};
  for (const char* n : names)
    if (strcasecmp(n, key.c_str()) == 0) return n;
  return nullptr;
}

}  // namespace

Doc::~Doc() {
  close();
}

bool Doc::open(const std::string& path) {
  close();
  struct stat st;
  if (path.empty() || stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  if (!looksLikePdf(path)) return false;
  pdf_document* d = nullptr;
  int needsPassword = 0;
  int pages = -1;
  bool ok = true;
  try {
    mu::guard("Opening the document", [&](fz_context* c) {
      d = pdf_open_document(c, path.c_str());
      needsPassword = pdf_needs_password(c, d);
      if (!needsPassword) pages = pdf_count_pages(c, d);
    });
  } catch (const AutomationError&) {
    ok = false;
  }
  mu::DocumentPtr holder(d ? &d->super : nullptr);
  if (!ok || !d || needsPassword || pages < 1) return false;
  doc_ = std::move(holder);
  pdf_ = d;
  path_ = path;
  openedSize = static_cast<int64_t>(st.st_size);
  dirty_ = false;
  currentPage = 0;
  return true;
}

void Doc::create() {
  close();
  pdf_document* d = nullptr;
  mu::guard("Creating a document", [&](fz_context* c) { d = pdf_create_document(c); });
  doc_.reset(&d->super);
  pdf_ = d;
  path_.clear();
  openedSize = 0;
  dirty_ = false;
  currentPage = 0;
}

void Doc::close() {
  words_.clear();
  fontSession.reset();
  for (auto& w : outline_)
    if (auto r = w.lock()) r->obj.reset();
  outline_.clear();
  doc_.reset();
  pdf_ = nullptr;
  path_.clear();
  dirty_ = false;
}

fz_document* Doc::fz() {
  if (!doc_) throw mu::EngineError("The document is not open");
  return doc_.get();
}

pdf_document* Doc::pdf() {
  fz();
  return pdf_;
}

int Doc::pageCount() {
  pdf_document* d = pdf();
  int n = 0;
  mu::guard("Counting pages", [&](fz_context* c) { n = pdf_count_pages(c, d); });
  return n;
}

void Doc::checkPage(int page) {
  int n = pageCount();
  if (page < 0 || page >= n) raiseBadPage(page, n);
}

fz_rect Doc::bounds(int page) {
  checkPage(page);
  pdf_document* d = pdf_;
  fz_rect r{};
  mu::guard("Reading the page size", [&](fz_context* c) {
    pdf_obj* p = pdf_lookup_page_obj(c, d, page);
    fz_rect box;
    fz_matrix ctm;
    pdf_page_obj_transform(c, p, &box, &ctm);
    r = fz_transform_rect(box, ctm);
  });
  return r;
}

int Doc::rotation(int page) {
  checkPage(page);
  pdf_document* d = pdf_;
  int rot = 0;
  mu::guard("Reading the page rotation", [&](fz_context* c) {
    pdf_obj* p = pdf_lookup_page_obj(c, d, page);
    rot = pdf_to_int(c, pdf_dict_get_inheritable(c, p, PDF_NAME(Rotate)));
  });
  rot %= 360;
  if (rot < 0) rot += 360;
  return rot - rot % 90;
}

fz_rect Doc::pageBox(int page, const std::string& box) {
  checkPage(page);
  std::string b;
  for (char ch : box) b += static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  // The boxes by their lower-case names; no name is the crop box.
  const std::pair<const char*, pdf_obj*> boxes[] = {{"", PDF_NAME(CropBox)},       {"crop", PDF_NAME(CropBox)},
                                                    {"media", PDF_NAME(MediaBox)}, {"art", PDF_NAME(ArtBox)},
                                                    {"bleed", PDF_NAME(BleedBox)}, {"trim", PDF_NAME(TrimBox)}};
  pdf_obj* key = nullptr;
  for (auto& [name, k] : boxes)
    if (b == name) key = k;
  if (!key) throw mu::EngineError("Unknown page box \"" + box + "\" (Art, Bleed, Crop, Media or Trim)");
  pdf_document* d = pdf_;
  fz_rect r{};
  mu::guard("Reading a page box", [&](fz_context* c) {
    pdf_obj* p = pdf_lookup_page_obj(c, d, page);
    fz_rect media = pdf_to_rect(c, pdf_dict_get_inheritable(c, p, PDF_NAME(MediaBox)));
    if (fz_is_empty_rect(media)) media = fz_make_rect(0, 0, 612, 792);
    r = media;
    if (key != PDF_NAME(MediaBox)) {
      pdf_obj* o = key == PDF_NAME(CropBox) ? pdf_dict_get_inheritable(c, p, key) : pdf_dict_get(c, p, key);
      // Boxes other than the media box default to the crop box, which
      // defaults to the media box; all are clipped to the media box.
      if (!pdf_is_array(c, o) && key != PDF_NAME(CropBox)) o = pdf_dict_get_inheritable(c, p, PDF_NAME(CropBox));
      if (pdf_is_array(c, o)) r = fz_intersect_rect(pdf_to_rect(c, o), media);
    }
  });
  return r;
}

mu::PagePtr Doc::loadPage(int page) {
  checkPage(page);
  fz_document* d = doc_.get();
  fz_page* p = nullptr;
  mu::guard("Loading the page", [&](fz_context* c) { p = fz_load_page(c, d, page); });
  return mu::PagePtr(p);
}

const std::vector<Word>& Doc::words(int page) {
  auto it = words_.find(page);
  if (it != words_.end()) return it->second;
  mu::PagePtr p = loadPage(page);
  fz_page* pg = p.get();
  fz_stext_page* st = nullptr;
  fz_matrix toUser = fz_identity;
  mu::guard("Reading the page text", [&](fz_context* c) {
    fz_stext_options opts{};
    opts.flags = 0;
    st = fz_new_stext_page_from_page(c, pg, &opts);
    pdf_page* pp = pdf_page_from_fz_page(c, pg);
    if (pp) {
      fz_rect media;
      fz_matrix ctm;
      pdf_page_transform(c, pp, &media, &ctm);
      toUser = fz_invert_matrix(ctm);
    }
  });
  mu::StextPtr holder(st);
  std::vector<Word> out;
  // A word takes at least one character and, but for the last, a space.
  size_t chars = 0;
  for (fz_stext_block* b = st->first_block; b; b = b->next)
    if (b->type == FZ_STEXT_BLOCK_TEXT)
      for (fz_stext_line* l = b->u.t.first_line; l; l = l->next)
        for (fz_stext_char* ch = l->first_char; ch; ch = ch->next) ++chars;
  out.reserve(chars / 4 + 8);
  // Walking the structure calls no MuPDF function that can fail.
  for (fz_stext_block* b = st->first_block; b; b = b->next) {
    if (b->type != FZ_STEXT_BLOCK_TEXT) continue;
    for (fz_stext_line* l = b->u.t.first_line; l; l = l->next) {
      Word cur;
      bool inWord = false;
      fz_quad first{}, last{};
      auto finish = [&] {
        if (!inWord) return;
        fz_quad q;
        q.ul = first.ul;
        q.ll = first.ll;
        q.ur = last.ur;
        q.lr = last.lr;
        cur.quad = fz_transform_quad(q, toUser);
        out.push_back(std::move(cur));
        cur = Word{};
        inWord = false;
      };
      for (fz_stext_char* ch = l->first_char; ch; ch = ch->next) {
        int u = ch->c;
        bool space = u == ' ' || u == '\t' || u == 0xA0 || u == 0x3000 || u == '\r' || u == '\n';
        if (space) {
          if (inWord) {
            // The space belongs to the word before it; collect the run.
            fz_stext_char* s = ch;
            std::string after;
            while (s && (s->c == ' ' || s->c == '\t' || s->c == 0xA0 || s->c == 0x3000)) {
              after += ' ';
              if (!s->next) break;
              if (s->next->c != ' ' && s->next->c != '\t' && s->next->c != 0xA0 && s->next->c != 0x3000) break;
              s = s->next;
            }
            cur.after = after;
            finish();
            ch = s;
          }
          continue;
        }
        if (!inWord) {
          inWord = true;
          first = ch->quad;
        }
        last = ch->quad;
        char buf[8];
        int n = fz_runetochar(buf, u);
        cur.text.append(buf, static_cast<size_t>(n));
      }
      finish();
      if (!out.empty()) out.back().lineEnd = true;
    }
  }
  // A line may have ended inside the loop above only by a word; mark the
  // last word of every line (done per line), so nothing more here.
  // The words of a few pages are kept: a reader goes through a document
  // page by page, and the words of all of them would grow with its length.
  if (words_.size() >= 4) words_.clear();
  return words_.emplace(page, std::move(out)).first->second;
}

void Doc::changed() {
  words_.clear();
  dirty_ = true;
}

namespace {

// Every file written carries identifiers, as viewers and the permanent ID
// of the document expect (and an encrypted file's keys are made from the
// first); a file without them gets a fresh pair.
void giveIdentifiers(pdf_document* d) {
  unsigned char ids[32];
  {
    std::ifstream r("/dev/urandom", std::ios::binary);
    r.read(reinterpret_cast<char*>(ids), sizeof ids);
    if (!r)
      for (size_t i = 0; i < sizeof ids; ++i) ids[i] = static_cast<unsigned char>(std::rand());
  }
  mu::guard("Giving the file identifiers", [&](fz_context* c) {
    pdf_obj* trailer = pdf_trailer(c, d);
    if (pdf_is_array(c, pdf_dict_get(c, trailer, PDF_NAME(ID)))) return;
    pdf_obj* idArr = pdf_dict_put_array(c, trailer, PDF_NAME(ID), 2);
    pdf_array_push_string(c, idArr, reinterpret_cast<const char*>(ids), 16);
    pdf_array_push_string(c, idArr, reinterpret_cast<const char*>(ids + 16), 16);
  });
}

// Whether a field, or one below it, is a signature field holding a
// signature. Each object is looked at once, so a form whose fields loop
// ends.
bool holdsSignature(fz_context* c, pdf_obj* field, pdf_obj* type, std::set<int>& seen) {
  if (pdf_is_indirect(c, field) && !seen.insert(pdf_to_num(c, field)).second) return false;
  if (pdf_obj* own = pdf_dict_get(c, field, PDF_NAME(FT))) type = own;
  if (pdf_name_eq(c, type, PDF_NAME(Sig)) && pdf_dict_get(c, field, PDF_NAME(V))) return true;
  pdf_obj* kids = pdf_dict_get(c, field, PDF_NAME(Kids));
  for (int i = 0, n = pdf_array_len(c, kids); i < n; ++i)
    if (holdsSignature(c, pdf_array_get(c, kids, i), type, seen)) return true;
  return false;
}

}  // namespace

void Doc::save(const std::string& target, bool full, bool linearize, bool garbage, bool reattach) {
  pdf_document* d = pdf();
  if (target.empty()) throw mu::EngineError("No file name to save to");
  int canIncrement = 0;
  mu::guard("Preparing to save", [&](fz_context* c) { canIncrement = pdf_can_be_saved_incrementally(c, d); });
  // Rewriting a signed document would void its signatures, whose byte
  // ranges cover the file as it was signed: its changes are always appended.
  int signatures = 0;
  mu::guard("Preparing to save", [&](fz_context* c) { signatures = pdf_count_signatures(c, d); });
  if (signatures > 0) full = linearize = false;
  bool incremental = !full && !linearize && !path_.empty() && canIncrement;
  // The information and XMP follow the document's changes, but not in a
  // signed document: the appended dates alone would make every signature
  // cover only part of the file.
  if (signatures == 0) keepMetadataInStep();
  std::unique_ptr<AtomicFile> tmp = tempBeside(target);
  pdf_write_options opts = pdf_default_write_options;
  opts.do_incremental = incremental ? 1 : 0;
  opts.do_linear = linearize ? 1 : 0;
  opts.do_garbage = (garbage || linearize) && !incremental ? 1 : 0;
  opts.do_compress = incremental ? 0 : 1;
  const char* tmpName = tmp->path().c_str();
  giveIdentifiers(d);
  mu::guard(("Saving " + target).c_str(), [&](fz_context* c) {
    if (incremental) {
      // The changes are appended to the bytes the document was read from.
      fz_output* out = fz_new_output_with_path(c, tmpName, 0);
      fz_try(c) {
        unsigned char buf[65536];
        size_t n;
        fz_seek(c, d->file, 0, SEEK_SET);
        while ((n = fz_read(c, d->file, buf, sizeof buf)) > 0) fz_write_data(c, out, buf, n);
        fz_close_output(c, out);
      }
      fz_always(c) {
        fz_drop_output(c, out);
      }
      fz_catch(c) {
        fz_rethrow(c);
      }
    }
    pdf_save_document(c, d, tmpName, &opts);
  });
  // MuPDF writes its output file anew, with the default mode; the commit
  // gives it the mode it should have.
  try {
    tmp->commit();
  } catch (const AtomicFileError& e) {
    throw mu::EngineError("Cannot save " + target + ": " + std::strerror(e.error()));
  }
  if (!reattach) return;
  // From now on the document is the file just written, so a later
  // incremental save appends to these bytes and not to the ones replaced.
  reopen(target);
}

void Doc::saveProtected(const std::string& target, const Protection& protection) {
  pdf_document* d = pdf();
  if (target.empty()) throw mu::EngineError("No file name to save to");
  std::string owner = protection.owner.empty() ? protection.user : protection.owner;
  pdf_write_options opts = pdf_default_write_options;
  if (protection.user.size() >= sizeof opts.upwd_utf8 || owner.size() >= sizeof opts.opwd_utf8)
    throw mu::EngineError("A password is longer than " + std::to_string(sizeof opts.upwd_utf8 - 1) + " bytes");
  bool signedForm = false;
  mu::guard("Preparing to save", [&](fz_context* c) {
    std::set<int> seen;
    pdf_obj* root = pdf_dict_get(c, pdf_trailer(c, d), PDF_NAME(Root));
    pdf_obj* fields = pdf_dict_getp(c, root, "AcroForm/Fields");
    for (int i = 0, n = pdf_array_len(c, fields); i < n && !signedForm; ++i)
      signedForm = holdsSignature(c, pdf_array_get(c, fields, i), nullptr, seen);
  });
  if (signedForm) throw mu::EngineError("A signed document cannot be encrypted without voiding its signatures");
  keepMetadataInStep();
  opts.do_encrypt = PDF_ENCRYPT_AES_256;
  opts.permissions = protection.permissions;
  opts.do_compress = 1;
  opts.do_garbage = 1;
  std::memcpy(opts.upwd_utf8, protection.user.c_str(), protection.user.size() + 1);
  std::memcpy(opts.opwd_utf8, owner.c_str(), owner.size() + 1);
  std::unique_ptr<AtomicFile> tmp = tempBeside(target);
  const char* tmpName = tmp->path().c_str();
  giveIdentifiers(d);
  mu::guard(("Saving " + target).c_str(), [&](fz_context* c) { pdf_save_document(c, d, tmpName, &opts); });
  try {
    tmp->commit();
  } catch (const AtomicFileError& e) {
    throw mu::EngineError("Cannot save " + target + ": " + std::strerror(e.error()));
  }
}

namespace {

// Now as a PDF date in local time with its offset.
std::string pdfNow() {
  time_t t = time(nullptr);
  struct tm lt {};
  localtime_r(&t, &lt);
  char buf[64];
  int off = static_cast<int>(lt.tm_gmtoff / 60) % (24 * 60);
  char sign = off < 0 ? '-' : '+';
  if (off < 0) off = -off;
  std::snprintf(buf, sizeof buf, "D:%04d%02d%02d%02d%02d%02d%c%02d'%02d'", lt.tm_year + 1900, lt.tm_mon + 1, lt.tm_mday,
                lt.tm_hour, lt.tm_min, lt.tm_sec, sign, off / 60, off % 60);
  return buf;
}

}  // namespace

void Doc::keepMetadataInStep() {
  if (!dirty_ && infoSet_.empty()) return;
  std::map<std::string, std::string> set = std::move(infoSet_);
  infoSet_.clear();
  // A date the caller set stays as given.
  if (!set.count("ModDate")) {
    std::string now = pdfNow();
    setInfo("ModDate", now);
    infoSet_.clear();
    set["ModDate"] = now;
  }
  pdf_document* d = pdf_;
  fz_buffer* read = nullptr;
  pdf_obj* md = nullptr;
  mu::guard("Reading the XMP metadata", [&](fz_context* c) {
    md = pdf_dict_getp(c, pdf_trailer(c, d), "Root/Metadata");
    if (pdf_is_stream(c, md)) read = pdf_load_stream(c, md);
  });
  mu::BufferPtr held(read);
  if (!read) return;
  unsigned char* data = nullptr;
  size_t n = 0;
  mu::guard("Reading the XMP metadata", [&](fz_context* c) { n = fz_buffer_storage(c, read, &data); });
  std::string packet(reinterpret_cast<const char*>(data), n);
  std::string updated = updateXmp(packet, set);
  if (updated == packet) return;
  const char* bytes = updated.data();
  size_t len = updated.size();
  mu::guard("Writing the XMP metadata", [&](fz_context* c) {
    fz_buffer* b = fz_new_buffer_from_copied_data(c, reinterpret_cast<const unsigned char*>(bytes), len);
    fz_try(c) {
      pdf_update_stream(c, d, md, b, 0);
    }
    fz_always(c) {
      fz_drop_buffer(c, b);
    }
    fz_catch(c) {
      fz_rethrow(c);
    }
  });
}

void Doc::reopen(const std::string& target) {
  // Each kept bookmark is found again by its position in the tree.
  struct Moved {
    std::shared_ptr<OutlineRef> ref;
    std::vector<int> path;
  };
  std::vector<Moved> moved;
  for (auto& w : outline_) {
    auto r = w.lock();
    if (!r || !r->obj) continue;
    Moved m{r, {}};
    if (!r->root) {
      pdf_obj* item = r->obj.get();
      int idx[64];
      int depth = 0;
      mu::guard("Locating a bookmark", [&](fz_context* c) {
        // Count previous siblings on the way up to the root.
        pdf_obj* it = item;
        while (it && depth < 64) {
          pdf_obj* parent = pdf_dict_get(c, it, PDF_NAME(Parent));
          if (!parent) break;
          int n = 0;
          for (pdf_obj* s = pdf_dict_get(c, it, PDF_NAME(Prev)); s && n < 100000;
               s = pdf_dict_get(c, s, PDF_NAME(Prev)))
            ++n;
          idx[depth++] = n;
          if (!pdf_dict_get(c, parent, PDF_NAME(Parent))) break;
          it = parent;
        }
      });
      // A bookmark removed from the tree has no way back into the new one.
      if (depth == 0) continue;
      for (int i = depth - 1; i >= 0; --i) m.path.push_back(idx[i]);
    }
    moved.push_back(std::move(m));
  }
  Doc fresh;
  if (!fresh.open(target)) throw mu::EngineError("The saved file " + target + " cannot be read back");
  for (auto& w : outline_)
    if (auto r = w.lock()) r->obj.reset();
  fontSession.reset();
  std::swap(doc_, fresh.doc_);
  std::swap(pdf_, fresh.pdf_);
  path_ = target;
  openedSize = fresh.openedSize;
  words_.clear();
  dirty_ = false;
  pdf_document* d = pdf_;
  outline_.clear();
  for (auto& m : moved) {
    pdf_obj* found = nullptr;
    bool isRoot = m.ref->root;
    const std::vector<int>& p = m.path;
    mu::guard("Locating a bookmark", [&](fz_context* c) {
      pdf_obj* node = pdf_dict_get(c, pdf_dict_get(c, pdf_trailer(c, d), PDF_NAME(Root)), PDF_NAME(Outlines));
      if (isRoot) {
        found = node;
        return;
      }
      for (size_t i = 0; node && i < p.size(); ++i) {
        pdf_obj* ch = pdf_dict_get(c, node, PDF_NAME(First));
        for (int k = 0; ch && k < p[i]; ++k) ch = pdf_dict_get(c, ch, PDF_NAME(Next));
        node = ch;
      }
      found = node;
    });
    if (found) {
      m.ref->obj = mu::keep(found);
      outline_.push_back(m.ref);
    }
  }
}

std::string Doc::info(const std::string& key) {
  pdf_document* d = pdf();
  const char* name = infoKeyName(key);
  std::string k = name ? name : key;
  pdf_obj* v = nullptr;
  mu::guard("Reading the document information", [&](fz_context* c) {
    pdf_obj* info = pdf_dict_get(c, pdf_trailer(c, d), PDF_NAME(Info));
    if (pdf_is_dict(c, info)) v = pdf_dict_gets(c, info, k.c_str());
  });
  return mu::text(v);
}

bool Doc::hasInfo(const std::string& key) {
  pdf_document* d = pdf();
  const char* name = infoKeyName(key);
  std::string k = name ? name : key;
  int has = 0;
  mu::guard("Reading the document information", [&](fz_context* c) {
    pdf_obj* info = pdf_dict_get(c, pdf_trailer(c, d), PDF_NAME(Info));
    has = pdf_is_dict(c, info) && pdf_dict_gets(c, info, k.c_str()) != nullptr;
  });
  return has != 0;
}

void Doc::setInfo(const std::string& key, const std::string& value) {
  pdf_document* d = pdf();
  const char* name = infoKeyName(key);
  std::string k = name ? name : key;
  if (k.empty()) throw mu::EngineError("An information key must not be empty");
  const char* kk = k.c_str();
  const char* vv = value.c_str();
  mu::guard("Writing the document information", [&](fz_context* c) {
    pdf_obj* info = pdf_dict_get(c, pdf_trailer(c, d), PDF_NAME(Info));
    if (!pdf_is_dict(c, info)) {
      info = pdf_add_new_dict(c, d, 8);
      // The trailer is asked for only now: the first new object of an
      // opened file starts the section of changes, whose trailer is a copy,
      // and a trailer fetched before would lose the entry.
      pdf_dict_put_drop(c, pdf_trailer(c, d), PDF_NAME(Info), info);
    }
    pdf_obj* keyObj = pdf_new_name(c, kk);
    fz_try(c) {
      pdf_dict_put_text_string(c, info, keyObj, vv);
    }
    fz_always(c) {
      pdf_drop_obj(c, keyObj);
    }
    fz_catch(c) {
      fz_rethrow(c);
    }
  });
  infoSet_[k] = value;
  changed();
}

namespace {
// The page modes by their numbers (0 keeps the file's mode and has no name).
constexpr const char* kPageModes[] = {nullptr,      "UseNone", "UseThumbs",     "UseOutlines",
                                      "FullScreen", "UseOC",   "UseAttachments"};
constexpr int kPageModeCount = int(std::size(kPageModes));
}  // namespace

int Doc::pageMode() {
  pdf_document* d = pdf();
  const char* m = nullptr;
  mu::guard("Reading the page mode", [&](fz_context* c) {
    pdf_obj* root = pdf_dict_get(c, pdf_trailer(c, d), PDF_NAME(Root));
    m = pdf_to_name(c, pdf_dict_get(c, root, PDF_NAME(PageMode)));
  });
  std::string s = m ? m : "";
  for (int i = 1; i < kPageModeCount; ++i)
    if (s == kPageModes[i]) return i;
  return 1;  // the default of a file without the entry
}

void Doc::setPageMode(int mode) {
  const char* const* names = kPageModes;
  if (mode < 0 || mode >= kPageModeCount) throw mu::EngineError("Unknown page mode " + std::to_string(mode));
  if (mode == 0) return;  // keep the mode the file has
  pdf_document* d = pdf();
  const char* n = names[mode];
  mu::guard("Setting the page mode", [&](fz_context* c) {
    pdf_obj* root = pdf_dict_get(c, pdf_trailer(c, d), PDF_NAME(Root));
    pdf_obj* name = pdf_new_name(c, n);
    pdf_dict_put_drop(c, root, PDF_NAME(PageMode), name);
  });
  changed();
}

std::shared_ptr<OutlineRef> Doc::track(pdf_obj* item, bool root) {
  auto r = std::make_shared<OutlineRef>();
  r->doc = weak_from_this();
  r->obj = mu::keep(item);
  r->root = root;
  // Forget references nobody holds any more, now and then, so tracking
  // many bookmarks stays linear.
  if (outline_.size() >= 2 * outlineLive_ + 64) {
    std::erase_if(outline_, [](const std::weak_ptr<OutlineRef>& w) { return w.expired(); });
    outlineLive_ = outline_.size();
  }
  outline_.push_back(r);
  return r;
}

pdf_obj* Doc::outlines(bool create) {
  pdf_document* d = pdf();
  pdf_obj* o = nullptr;
  mu::guard("Reading the bookmarks", [&](fz_context* c) {
    pdf_obj* root = pdf_dict_get(c, pdf_trailer(c, d), PDF_NAME(Root));
    o = pdf_dict_get(c, root, PDF_NAME(Outlines));
    if (!pdf_is_dict(c, o)) {
      o = nullptr;
      if (!create) return;
      pdf_obj* made = pdf_add_new_dict(c, d, 4);
      pdf_dict_put(c, made, PDF_NAME(Type), PDF_NAME(Outlines));
      pdf_dict_put_drop(c, root, PDF_NAME(Outlines), made);
      o = pdf_dict_get(c, root, PDF_NAME(Outlines));
    }
  });
  return o;
}

std::shared_ptr<OutlineRef> Doc::outlineRoot() {
  pdf();
  // The root of the bookmark tree exists for the viewer even when the file
  // has no outline; the file gets one with its first bookmark. The root is
  // looked up at each use, so it needs no moving when the file reopens.
  return track(nullptr, true);
}

pdf_obj* itemDestination(fz_context* c, pdf_obj* item) {
  pdf_obj* dest = pdf_dict_get(c, item, PDF_NAME(Dest));
  if (dest) return dest;
  pdf_obj* a = pdf_dict_get(c, item, PDF_NAME(A));
  return pdf_name_eq(c, pdf_dict_get(c, a, PDF_NAME(S)), PDF_NAME(GoTo)) ? pdf_dict_get(c, a, PDF_NAME(D)) : nullptr;
}

pdf_obj* explicitDestination(fz_context* c, pdf_document* d, pdf_obj* dest) {
  if (pdf_is_name(c, dest) || pdf_is_string(c, dest)) dest = pdf_lookup_dest(c, d, dest);
  if (pdf_is_dict(c, dest)) dest = pdf_dict_get(c, dest, PDF_NAME(D));
  return pdf_is_array(c, dest) && pdf_array_len(c, dest) >= 1 ? dest : nullptr;
}

int Doc::destinationPage(pdf_obj* item) {
  pdf_document* d = pdf();
  int page = -1;
  mu::guard("Resolving a destination", [&](fz_context* c) {
    pdf_obj* dest = explicitDestination(c, d, itemDestination(c, item));
    if (!dest) return;
    pdf_obj* target = pdf_array_get(c, dest, 0);
    if (pdf_is_int(c, target))
      page = pdf_to_int(c, target);
    else if (pdf_is_dict(c, target))
      page = pdf_lookup_page_number(c, d, target);
  });
  return page;
}

}  // namespace pm::pdf
