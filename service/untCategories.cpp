#include "untCategories.h"

#include "untKeywordQuery.h"

#include <algorithm>
#include <cstdint>
#include <map>

namespace {

std::vector<TCategory> BuildTree()
{
    return {
        {293, "Consumer Electronics", 0, 0, {}, {}, {}},
        {15052,
         "Portable Audio & Headphones",
         293,
         9000,
         {"ipod", "mp3", "headphones", "earbuds", "headset", "walkman", "airpods", "speaker"},
         {"Apple", "Sony", "Bose", "Sennheiser", "JBL", "Beats"},
         {"Headphones", "MP3 Player", "Earbuds", "Portable Speaker"}},
        {32852,
         "TV, Video & Home Audio",
         293,
         40000,
         {"tv", "television", "receiver", "amplifier", "soundbar", "projector", "bluray"},
         {"Samsung", "LG", "Sony", "Panasonic", "Yamaha", "Denon"},
         {"LED TV", "AV Receiver", "Soundbar", "Projector"}},
        {15032, "Cell Phones & Accessories", 0, 0, {}, {}, {}},
        {9355,
         "Cell Phones & Smartphones",
         15032,
         35000,
         {"iphone", "phone", "smartphone", "galaxy", "pixel", "nokia", "motorola", "android",
          "cellphone", "mobile"},
         {"Apple", "Samsung", "Google", "Nokia", "Motorola", "OnePlus"},
         {"Smartphone", "Cell Phone", "Mobile Phone"}},
        {20349,
         "Cases, Covers & Skins",
         15032,
         1500,
         {"case", "cover", "skin", "otterbox", "holster"},
         {"OtterBox", "Spigen", "Apple", "Speck"},
         {"Phone Case", "Cover", "Wallet Case"}},
        {58058, "Computers/Tablets & Networking", 0, 0, {}, {}, {}},
        {175672,
         "Laptops & Netbooks",
         58058,
         60000,
         {"laptop", "notebook", "macbook", "thinkpad", "chromebook", "netbook", "ultrabook"},
         {"Apple", "Lenovo", "Dell", "HP", "Asus", "Acer"},
         {"Laptop", "Notebook", "Ultrabook"}},
        {171485,
         "Tablets & eBook Readers",
         58058,
         25000,
         {"ipad", "tablet", "kindle", "ereader", "surface"},
         {"Apple", "Amazon", "Samsung", "Microsoft", "Kobo"},
         {"Tablet", "eBook Reader"}},
        {171957,
         "Desktops & All-In-Ones",
         58058,
         50000,
         {"desktop", "imac", "pc", "tower", "workstation"},
         {"Apple", "Dell", "HP", "Lenovo"},
         {"Desktop PC", "All-In-One", "Workstation"}},
        {625, "Cameras & Photo", 0, 0, {}, {}, {}},
        {31388,
         "Digital Cameras",
         625,
         45000,
         {"camera", "dslr", "mirrorless", "canon", "nikon", "eos", "gopro", "leica"},
         {"Canon", "Nikon", "Sony", "Fujifilm", "Olympus", "Leica"},
         {"Digital Camera", "DSLR Body", "Mirrorless Camera"}},
        {3323,
         "Lenses & Filters",
         625,
         30000,
         {"lens", "lenses", "filter", "zoom", "telephoto", "prime"},
         {"Canon", "Nikon", "Sigma", "Tamron", "Zeiss"},
         {"Zoom Lens", "Prime Lens", "Filter Set"}},
        {1249, "Video Games & Consoles", 0, 0, {}, {}, {}},
        {139971,
         "Video Game Consoles",
         1249,
         30000,
         {"console", "playstation", "ps5", "ps4", "xbox", "switch", "nintendo", "gameboy", "wii",
          "sega"},
         {"Sony", "Microsoft", "Nintendo", "Sega"},
         {"Console", "Console Bundle", "Handheld Console"}},
        {139973,
         "Video Games",
         1249,
         3500,
         {"game", "games", "zelda", "mario", "pokemon", "fifa", "halo"},
         {"Nintendo", "EA", "Ubisoft", "Capcom", "Sega"},
         {"Video Game", "Game Disc", "Cartridge"}},
        {11450, "Clothing, Shoes & Accessories", 0, 0, {}, {}, {}},
        {93427,
         "Men's Shoes",
         11450,
         9000,
         {"shoes", "sneakers", "boots", "trainers", "jordan", "nike", "adidas", "loafers"},
         {"Nike", "Adidas", "New Balance", "Dr. Martens", "Converse"},
         {"Sneakers", "Boots", "Trainers"}},
        {15724,
         "Women's Clothing",
         11450,
         4500,
         {"dress", "skirt", "blouse", "jacket", "coat", "cardigan", "jeans"},
         {"Zara", "Levi's", "Ralph Lauren", "Patagonia", "Mango"},
         {"Dress", "Jacket", "Jeans", "Coat"}},
        {169291,
         "Women's Bags & Handbags",
         11450,
         25000,
         {"handbag", "bag", "purse", "tote", "wallet", "backpack"},
         {"Coach", "Michael Kors", "Gucci", "Longchamp", "Prada"},
         {"Handbag", "Tote Bag", "Shoulder Bag"}},
        {281, "Jewelry & Watches", 0, 0, {}, {}, {}},
        {31387,
         "Wristwatches",
         281,
         30000,
         {"watch", "watches", "rolex", "omega", "seiko", "casio", "chronograph", "tissot"},
         {"Seiko", "Casio", "Omega", "Tissot", "Citizen", "Rolex"},
         {"Wristwatch", "Chronograph", "Dive Watch"}},
        {10968,
         "Fine Jewelry",
         281,
         20000,
         {"ring", "necklace", "bracelet", "earrings", "pendant", "diamond", "gold", "silver"},
         {"Pandora", "Tiffany & Co.", "Swarovski"},
         {"Ring", "Necklace", "Bracelet", "Pendant"}},
        {11700, "Home & Garden", 0, 0, {}, {}, {}},
        {20625,
         "Kitchen, Dining & Bar",
         11700,
         6000,
         {"kitchen", "knife", "pan", "pot", "espresso", "coffee", "mixer", "blender", "kettle"},
         {"KitchenAid", "Le Creuset", "Nespresso", "De'Longhi", "Wusthof"},
         {"Stand Mixer", "Espresso Machine", "Knife Set", "Dutch Oven"}},
        {631,
         "Tools & Workshop Equipment",
         11700,
         12000,
         {"drill", "saw", "tool", "tools", "wrench", "grinder", "makita", "dewalt"},
         {"DeWalt", "Makita", "Bosch", "Milwaukee", "Ryobi"},
         {"Cordless Drill", "Circular Saw", "Tool Kit"}},
        {20444,
         "Lamps, Lighting & Ceiling Fans",
         11700,
         5000,
         {"lamp", "light", "lighting", "chandelier", "fan"},
         {"IKEA", "Philips", "Tiffany Style"},
         {"Table Lamp", "Floor Lamp", "Chandelier"}},
        {888, "Sporting Goods", 0, 0, {}, {}, {}},
        {7294,
         "Cycling",
         888,
         45000,
         {"bike", "bicycle", "cycling", "mtb", "helmet", "shimano", "trek"},
         {"Trek", "Specialized", "Giant", "Cannondale", "Shimano"},
         {"Road Bike", "Mountain Bike", "Groupset"}},
        {1513,
         "Golf",
         888,
         15000,
         {"golf", "driver", "putter", "irons", "titleist", "callaway"},
         {"Callaway", "TaylorMade", "Titleist", "Ping"},
         {"Driver", "Iron Set", "Putter"}},
        {16263,
         "Camping & Hiking",
         888,
         8000,
         {"tent", "camping", "hiking", "sleeping", "stove", "lantern"},
         {"Coleman", "MSR", "The North Face", "Osprey"},
         {"Tent", "Sleeping Bag", "Backpack"}},
        {220, "Toys & Hobbies", 0, 0, {}, {}, {}},
        {19006,
         "LEGO Building Toys",
         220,
         7000,
         {"lego", "technic", "minifigures", "duplo"},
         {"LEGO"},
         {"Set", "Minifigure Lot", "Technic Set"}},
        {180250,
         "Model Railroads & Trains",
         220,
         9000,
         {"train", "railroad", "locomotive", "marklin", "hornby"},
         {"Marklin", "Hornby", "Bachmann", "Lionel"},
         {"Locomotive", "Train Set", "Rolling Stock"}},
        {2536,
         "Action Figures",
         220,
         3000,
         {"figure", "figures", "transformers", "starwars", "marvel", "hasbro"},
         {"Hasbro", "Mattel", "Bandai", "Funko"},
         {"Action Figure", "Figure Lot"}},
        {267, "Books & Magazines", 0, 0, {}, {}, {}},
        {261186,
         "Books",
         267,
         1500,
         {"book", "books", "novel", "hardcover", "paperback", "edition"},
         {"Penguin", "HarperCollins", "Folio Society"},
         {"Hardcover Book", "Paperback", "First Edition"}},
        {11233, "Music", 0, 0, {}, {}, {}},
        {176985,
         "Vinyl Records",
         11233,
         2500,
         {"vinyl", "lp", "record", "records", "beatles", "album"},
         {"Blue Note", "Columbia", "Motown"},
         {"LP", "Vinyl Record", "Album"}},
        {619, "Musical Instruments & Gear", 0, 0, {}, {}, {}},
        {33034,
         "Electric Guitars",
         619,
         70000,
         {"guitar", "stratocaster", "telecaster", "gibson", "fender", "lespaul"},
         {"Fender", "Gibson", "Ibanez", "Epiphone", "PRS"},
         {"Electric Guitar", "Stratocaster", "Les Paul"}},
        {180010,
         "Pro Audio Equipment",
         619,
         20000,
         {"mixer", "microphone", "mic", "synth", "synthesizer", "midi", "pedal"},
         {"Shure", "Roland", "Korg", "Yamaha", "Boss"},
         {"Microphone", "Synthesizer", "Effects Pedal"}},
        {6000, "eBay Motors", 0, 0, {}, {}, {}},
        {6028,
         "Parts & Accessories",
         6000,
         8000,
         {"brake", "engine", "tire", "tires", "wheel", "wheels", "headlight", "bumper", "exhaust"},
         {"Bosch", "Brembo", "Michelin", "Bilstein"},
         {"Brake Kit", "Headlight", "Wheel Set"}},
        {6001,
         "Cars & Trucks",
         6000,
         1500000,
         {"car", "truck", "sedan", "pickup", "convertible", "mustang", "corvette"},
         {"Ford", "Chevrolet", "Toyota", "BMW", "Porsche"},
         {"Sedan", "Pickup Truck", "Convertible"}},
        {1, "Collectibles", 0, 0, {}, {}, {}},
        {11116,
         "Coins & Paper Money",
         1,
         5000,
         {"coin", "coins", "banknote", "bullion", "dollar", "penny"},
         {"US Mint", "Royal Mint", "Perth Mint"},
         {"Silver Coin", "Proof Set", "Banknote"}},
        {260,
         "Stamps",
         1,
         2000,
         {"stamp", "stamps", "philately", "postage"},
         {"Stanley Gibbons", "Scott"},
         {"Stamp Collection", "Stamp Lot", "First Day Cover"}},
        {183454,
         "Trading Cards",
         1,
         4000,
         {"card", "cards", "tcg", "magic", "yugioh", "psa"},
         {"Pokemon", "Topps", "Panini", "Wizards of the Coast"},
         {"Trading Card", "Booster Box", "Card Lot"}},
        {20081,
         "Antiques",
         0,
         12000,
         {"antique", "antiques", "victorian", "vintage", "porcelain", "clock"},
         {"Meissen", "Wedgwood", "Royal Doulton"},
         {"Porcelain Vase", "Mantel Clock", "Silver Tray"}},
        {550, "Art", 0, 0, {}, {}, {}},
        {551,
         "Paintings",
         550,
         25000,
         {"painting", "oil", "canvas", "watercolor", "art", "print", "poster"},
         {"Original", "Signed"},
         {"Oil Painting", "Watercolor", "Art Print"}},
    };
}

std::uint64_t Mix(std::uint64_t x)
{
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

std::uint64_t HashText(std::string_view text)
{
    std::uint64_t h = 1469598103934665603ull;
    for (char c : text)
        h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    return Mix(h);
}

} // namespace

const std::vector<TCategory>& DemoCategories()
{
    static const std::vector<TCategory> tree = BuildTree();
    return tree;
}

const TCategory* FindCategory(int id)
{
    for (const TCategory& c : DemoCategories())
        if (c.id == id)
            return &c;
    return nullptr;
}

bool CategoryWithin(int id, int ancestorId)
{
    if (ancestorId == 0)
        return FindCategory(id) != nullptr;
    for (int guard = 0; id != 0 && guard < 8; ++guard) {
        if (id == ancestorId)
            return true;
        const TCategory* c = FindCategory(id);
        if (!c)
            return false;
        id = c->parentId;
    }
    return false;
}

std::vector<const TCategory*> LeavesUnder(int id)
{
    std::vector<const TCategory*> leaves;
    for (const TCategory& c : DemoCategories())
        if (!c.nouns.empty() && CategoryWithin(c.id, id))
            leaves.push_back(&c);
    return leaves;
}

std::vector<TCategorySuggestion> SuggestCategories(std::string_view keywords)
{
    const std::vector<std::string> words = SplitWords(keywords);
    std::map<int, int> score;
    for (const std::string& w : words)
        for (const TCategory& c : DemoCategories())
            for (const char* k : c.keywords)
                if (w == k)
                    score[c.id] += 10;
    // Words that point nowhere still land somewhere, always the same place for the same word.
    const std::vector<const TCategory*> leaves = LeavesUnder(0);
    for (const std::string& w : words) {
        bool known = false;
        for (const auto& [id, s] : score)
            if (s > 0)
                known = true;
        if (known)
            break;
        const std::uint64_t h = HashText(w);
        score[leaves[h % leaves.size()]->id] += 6;
        score[leaves[(h >> 20) % leaves.size()]->id] += 3;
        score[leaves[(h >> 40) % leaves.size()]->id] += 1;
    }
    std::vector<std::pair<int, int>> ranked(score.begin(), score.end());
    std::stable_sort(ranked.begin(), ranked.end(),
                     [](const auto& a, const auto& b) { return a.second > b.second; });
    if (ranked.size() > 10)
        ranked.resize(10);
    int total = 0;
    for (const auto& r : ranked)
        total += r.second;
    std::vector<TCategorySuggestion> out;
    for (const auto& [id, s] : ranked) {
        const TCategory* c = FindCategory(id);
        TCategorySuggestion sug;
        sug.id = id;
        sug.name = c->name;
        sug.percent = total > 0 ? s * 100 / total : 0;
        for (int p = c->parentId, guard = 0; p != 0 && guard < 8; ++guard) {
            const TCategory* pc = FindCategory(p);
            if (!pc)
                break;
            sug.parents.insert(sug.parents.begin(), {pc->id, pc->name});
            p = pc->parentId;
        }
        out.push_back(std::move(sug));
    }
    return out;
}
